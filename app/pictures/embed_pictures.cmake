# cmake -DPICTURE_DIR=<dir> -DPICTURES=<file:Name,...> -DOUTPUT=<file.cpp> -P embed_pictures.cmake
# Writes OUTPUT with each JPEG file as a byte array named k<Name>Jpeg (see
# embedded_pictures.h), so the program carries its pictures with it.
string(REPLACE "," ";" pictures "${PICTURES}")
set(body "// Made by app/pictures/embed_pictures.cmake from app/pictures/*.jpg.\n")
string(APPEND body "#include \"app/pictures/embedded_pictures.h\"\n\nnamespace velmora::pictures {\n")
foreach(entry IN LISTS pictures)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 file)
  list(GET parts 1 name)
  file(READ "${PICTURE_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  # 24 bytes a line keeps the file readable in a diff viewer.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " bytes "${bytes}")
  string(APPEND body "\nnamespace {\nconst unsigned char k${name}Bytes[${size}] = {\n    ${bytes}\n};\n}  // namespace\n")
  string(APPEND body "const EmbeddedFile k${name}Jpeg{k${name}Bytes, sizeof k${name}Bytes};\n")
endforeach()
string(APPEND body "\n}  // namespace velmora::pictures\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
