// The file version readers (PE resources, our ELF note) on any bytes.
#include "update/UpdateLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)update::VersionFromBytes(bytes);
    return 0;
}
