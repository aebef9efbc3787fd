#pragma once
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// Signatures of update control files in the minisign format (Ed25519),
// checked with libsodium. A release is signed with the ordinary
// `minisign -S -t "timestamp:<unix seconds>"`.
namespace update::minisign {

struct PublicKey {
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 32> key{};
};

// A public key: the text of a minisign .pub file, or its base64 line alone.
std::optional<PublicKey> ParsePublicKey(const QByteArray& text);

struct Verdict {
    bool ok = false;
    QString error;          // why it was refused, for the player and the log
    QString trustedComment; // as signed
    // "timestamp:<seconds>" of the trusted comment; -1 when it carries none.
    std::int64_t timestamp = -1;
    // "expires:<seconds>": after it the file is no longer to be acted on,
    // so an old genuine file cannot be served for ever; -1 when none.
    std::int64_t expires = -1;
};

// Checks `signature` (the text of a .minisig file) over `data` with `key`:
// the key id must match, the signature (plain "Ed" or prehashed "ED") must
// verify, and so must the global signature over the trusted comment.
Verdict Verify(const QByteArray& data, const QByteArray& signature, const PublicKey& key);

// The key compiled into the program: the release key.
QByteArray ReleasePublicKey();

// The demo key under demo/ (its secret half is published): trusted only
// while the demo or the tests run, which say so with QUORLEX_DEMO=1.
bool IsDemoKey(const PublicKey& key);
bool DemoKeyAllowed();

// The key id as minisign prints it (16 hex digits, most significant first).
QString KeyIdText(const PublicKey& key);

} // namespace update::minisign
