// Build tool: packs a style sheet into the compressed skin stored in the window's resource.
// Output: the uncompressed length as 4 bytes, most significant first, then a zlib stream
// (the layout qUncompress reads).

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s STYLE.qss OUT.skn\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "pack_skin: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uLongf packedSize = compressBound(static_cast<uLong>(text.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(text.data()),
                  static_cast<uLong>(text.size()), Z_BEST_COMPRESSION) != Z_OK) {
        std::fprintf(stderr, "pack_skin: compression failed\n");
        return 1;
    }
    const auto n = static_cast<unsigned long>(text.size());
    const unsigned char header[4] = {
        static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
        static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header), 4);
    out.write(reinterpret_cast<const char*>(packed.data()),
              static_cast<std::streamsize>(packedSize));
    if (!out) {
        std::fprintf(stderr, "pack_skin: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
