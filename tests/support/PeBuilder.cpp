#include "tests/support/PeBuilder.h"

#include <cstring>

namespace testsupport {

namespace {
void put16(QByteArray& b, int off, std::uint16_t v) { std::memcpy(b.data() + off, &v, 2); }
void put32(QByteArray& b, int off, std::uint32_t v) { std::memcpy(b.data() + off, &v, 4); }
} // namespace

QByteArray BuildPe(std::uint32_t ms, std::uint32_t ls, bool withVersion) {
    QByteArray f(0x400, '\0');
    put16(f, 0, 0x5A4D);   // MZ
    put32(f, 0x3C, 0x40);  // e_lfanew
    put32(f, 0x40, 0x4550); // PE\0\0
    const int coff = 0x44;
    put16(f, coff + 0, 0x14C); // i386
    put16(f, coff + 2, 1);     // one section
    put16(f, coff + 16, 224);  // optional header size
    const int opt = coff + 20;
    put16(f, opt, 0x10B); // PE32
    put32(f, opt + 92, 16); // NumberOfRvaAndSizes
    const int dirs = opt + 96;
    const std::uint32_t rsrcVa = 0x1000;
    put32(f, dirs + 2 * 8, rsrcVa);
    put32(f, dirs + 2 * 8 + 4, 0x200);
    const int sec = opt + 224;
    std::memcpy(f.data() + sec, ".rsrc\0\0\0", 8);
    put32(f, sec + 8, 0x200);   // virtual size
    put32(f, sec + 12, rsrcVa); // virtual address
    put32(f, sec + 16, 0x200);  // raw size
    put32(f, sec + 20, 0x200);  // raw pointer
    const int r = 0x200;
    // Root directory: one id entry, type 16 (or 6 without a version) -> name dir.
    put16(f, r + 14, 1);
    put32(f, r + 16, withVersion ? 16 : 6);
    put32(f, r + 20, 0x80000000u | 0x18);
    // Name directory at +0x18: id 1 -> language dir.
    put16(f, r + 0x18 + 14, 1);
    put32(f, r + 0x18 + 16, 1);
    put32(f, r + 0x18 + 20, 0x80000000u | 0x30);
    // Language directory at +0x30: 0x409 -> data entry.
    put16(f, r + 0x30 + 14, 1);
    put32(f, r + 0x30 + 16, 0x409);
    put32(f, r + 0x30 + 20, 0x48);
    // Data entry at +0x48: RVA and size of VS_VERSIONINFO at +0x60.
    put32(f, r + 0x48, rsrcVa + 0x60);
    put32(f, r + 0x48 + 4, 92);
    // VS_VERSIONINFO: header, L"VS_VERSION_INFO", padding, VS_FIXEDFILEINFO.
    const int v = r + 0x60;
    put16(f, v, 92);
    put16(f, v + 2, 52);
    const char16_t key[] = u"VS_VERSION_INFO";
    std::memcpy(f.data() + v + 6, key, sizeof key);
    const int fixed = v + 40; // 6 + 32 bytes of key, aligned to 4
    put32(f, fixed, 0xFEEF04BD);
    put32(f, fixed + 4, 0x10000);
    put32(f, fixed + 8, ms);
    put32(f, fixed + 12, ls);
    return f;
}

} // namespace testsupport
