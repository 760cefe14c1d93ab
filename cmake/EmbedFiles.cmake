# Writes OUTPUT, a C++ source holding every file of FOLDER (FILES, relative to FOLDER, separated by
# "|"; FROM: the folder as the source tree names it) as bytes of the program, each followed by a
# NUL: the definition of FUNCTION (a static member declared in HEADER, qualified below namespace
# penwick) that lists them by name. Run by
# wh_embed_files() in src/CMakeLists.txt with `cmake -P` whenever one of the files changes.
set(body "")
set(table "")
set(index 0)
string(REPLACE "|" ";" files "${FILES}")
foreach(name IN LISTS files)
  file(READ "${FOLDER}/${name}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char kFile${index}[] = { ${bytes} 0 };\n")
  string(APPEND table "    { \"${name}\", std::string_view(kFile${index}, ${size}) },\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${FROM}/ by cmake/EmbedFiles.cmake; do not edit.
#include \"${HEADER}\"

namespace penwick {
namespace {
${body}} // namespace

const std::vector<std::pair<std::string_view, std::string_view>>& ${FUNCTION}()
{
    static const std::vector<std::pair<std::string_view, std::string_view>> s_files {
${table}    };
    return s_files;
}

} // namespace penwick
")
# Touched only when the content changed, so unchanged files compile nothing again.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
