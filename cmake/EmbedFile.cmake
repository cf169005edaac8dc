# Writes a C++ source that defines fw::kTileBitmap / fw::kTileBitmapSize with the
# bytes of INPUT. Run as: cmake -DINPUT=... -DOUTPUT=... -P EmbedFile.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n"
"#include \"framework/tile.h\"\n"
"namespace fw {\n"
"const uint8_t kTileBitmap[] = {\n${bytes}\n};\n"
"const size_t kTileBitmapSize = ${size};\n"
"}  // namespace fw\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
