// Writing a module from the image to a file.
#include "module/module_file.h"

namespace {

constexpr uint32_t PIECE = 1024;

}  // namespace

bool write_module(FILE *f, const uint8_t *image, uint32_t size)
{
    for (uint32_t at = 0; at < size; at += PIECE) {
        size_t piece = size - at < PIECE ? size - at : PIECE;
        if (std::fwrite(image + at, 1, piece, f) != piece)
            return false;
    }
    return true;
}
