// The program's file version as a note section of the executable, laid out
// as the fixed file information of a Windows version resource, so that an
// update compares our version on Linux as it does on Windows.
#define QUORLEX_STR2(x) #x
#define QUORLEX_STR(x) QUORLEX_STR2(x)

asm(".pushsection .note.quorlex.version,\"a\",@note\n"
    ".balign 4\n"
    ".long 8\n"  // name size
    ".long 52\n" // descriptor size: VS_FIXEDFILEINFO
    ".long 1\n"  // type
    ".asciz \"Quorlex\"\n"
    ".balign 4\n"
    ".long 0xFEEF04BD\n" // signature
    ".long 0x00010000\n" // structure version
    ".long " QUORLEX_STR(QUORLEX_VERSION_MS) "\n"
    ".long " QUORLEX_STR(QUORLEX_VERSION_LS) "\n"
    ".long " QUORLEX_STR(QUORLEX_VERSION_MS) "\n"
    ".long " QUORLEX_STR(QUORLEX_VERSION_LS) "\n"
    ".long 0x3F, 0, 0, 1, 0, 0, 0\n"
    ".popsection\n");
