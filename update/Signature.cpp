#include "update/Signature.h"

#include <QList>
#include <sodium.h>

namespace update::minisign {

namespace {

// The release key. Its secret half is kept by whoever publishes releases,
// never in the source tree.
constexpr char kReleaseKey[] = "untrusted comment: Quorlex 2004 release key F3C1FE94308E52D0\n"
                               "RWTQUo4wlP7B87JQxuR00W/zfkrzLI1y7SnK2nAwOZtKJ1zpWsRj0AU5\n";

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::optional<QByteArray> decode(const QByteArray& line) {
    auto r =
        QByteArray::fromBase64Encoding(line.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!r) return std::nullopt;
    return *r;
}

// The lines of a small text file, without line ends.
QList<QByteArray> linesOf(const QByteArray& text) {
    QList<QByteArray> lines;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        lines << line;
    }
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines;
}

Verdict refuse(const char* why) {
    Verdict v;
    v.error = QString::fromLatin1(why);
    return v;
}

} // namespace

std::optional<PublicKey> ParsePublicKey(const QByteArray& text) {
    QByteArray line;
    for (const QByteArray& l : linesOf(text))
        if (!l.trimmed().isEmpty() && !l.startsWith("untrusted comment:")) {
            line = l;
            break;
        }
    const auto raw = decode(line);
    if (!raw || raw->size() != 2 + 8 + 32 || !raw->startsWith("Ed")) return std::nullopt;
    PublicKey k;
    std::copy_n(reinterpret_cast<const unsigned char*>(raw->constData()) + 2, 8, k.keyId.begin());
    std::copy_n(reinterpret_cast<const unsigned char*>(raw->constData()) + 10, 32, k.key.begin());
    return k;
}

Verdict Verify(const QByteArray& data, const QByteArray& signature, const PublicKey& key) {
    if (!sodiumReady()) return refuse("the signature library could not start");
    const QList<QByteArray> lines = linesOf(signature);
    if (lines.size() != 4 || !lines[0].startsWith("untrusted comment:") ||
        !lines[2].startsWith("trusted comment: "))
        return refuse("no signature in the minisign format");
    const auto sig = decode(lines[1]);
    if (!sig || sig->size() != 2 + 8 + 64) return refuse("the signature is malformed");
    const bool prehashed = sig->startsWith("ED");
    if (!prehashed && !sig->startsWith("Ed")) return refuse("unknown signature algorithm");
    const auto* s = reinterpret_cast<const unsigned char*>(sig->constData());
    if (!std::equal(key.keyId.begin(), key.keyId.end(), s + 2))
        return refuse("signed with another key");
    const unsigned char* sig64 = s + 10;

    int rc;
    if (prehashed) {
        unsigned char hash[crypto_generichash_BYTES_MAX];
        crypto_generichash(hash, sizeof hash,
                           reinterpret_cast<const unsigned char*>(data.constData()),
                           static_cast<unsigned long long>(data.size()), nullptr, 0);
        rc = crypto_sign_verify_detached(sig64, hash, sizeof hash, key.key.data());
    } else {
        rc = crypto_sign_verify_detached(
            sig64, reinterpret_cast<const unsigned char*>(data.constData()),
            static_cast<unsigned long long>(data.size()), key.key.data());
    }
    if (rc != 0) return refuse("the signature does not match the file");

    const QByteArray comment = lines[2].mid(static_cast<qsizetype>(sizeof "trusted comment: " - 1));
    const auto global = decode(lines[3]);
    if (!global || global->size() != 64)
        return refuse("the trusted comment's signature is malformed");
    const QByteArray signedPart = QByteArray(reinterpret_cast<const char*>(sig64), 64) + comment;
    if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(global->constData()),
                                    reinterpret_cast<const unsigned char*>(signedPart.constData()),
                                    static_cast<unsigned long long>(signedPart.size()),
                                    key.key.data()) != 0)
        return refuse("the trusted comment was changed");

    Verdict v;
    v.ok = true;
    v.trustedComment = QString::fromUtf8(comment);
    // "timestamp:<seconds>" and "expires:<seconds>", alone or among
    // tab-separated fields; the first of each counts.
    bool timed = false, expiring = false;
    for (const QByteArray& field : comment.split('\t')) {
        const bool time = field.startsWith("timestamp:"), expiry = field.startsWith("expires:");
        if ((time && timed) || (expiry && expiring) || !(time || expiry)) continue;
        bool ok = false;
        const qlonglong t = field.mid(field.indexOf(':') + 1).trimmed().toLongLong(&ok);
        if (time) {
            timed = true;
            if (ok && t >= 0) v.timestamp = t;
        } else {
            expiring = true;
            // A limit that cannot be read is no "no limit".
            if (!ok || t < 0) return refuse("the trusted comment's expiry is not a time");
            v.expires = t;
        }
    }
    return v;
}

QByteArray ReleasePublicKey() {
    return QByteArray(kReleaseKey);
}

bool IsDemoKey(const PublicKey& key) {
    // The key id of demo/demo-update-key.pub, as stored (little end first).
    static constexpr std::array<unsigned char, 8> kDemoKeyId{0xF0, 0xD8, 0x31, 0x7C,
                                                             0x0A, 0x4D, 0x38, 0x19};
    return key.keyId == kDemoKeyId;
}

bool DemoKeyAllowed() { return qEnvironmentVariable("QUORLEX_DEMO") == QStringLiteral("1"); }

QString KeyIdText(const PublicKey& key) {
    QString text;
    for (auto it = key.keyId.rbegin(); it != key.keyId.rend(); ++it)
        text += QStringLiteral("%1").arg(*it, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace update::minisign
