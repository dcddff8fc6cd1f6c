# Writes OUTPUT, a C++ source holding every compiled catalog CATALOG_DIR/<lang>.mo as a byte array, the languages
# of the comma-separated LANGUAGES numbered from FIRST_ID. Run with cmake -P at build time.
string(REPLACE "," ";" languages "${LANGUAGES}")
set(arrays "")
set(cases "")
set(id ${FIRST_ID})
foreach(lang IN LISTS languages)
  file(READ ${CATALOG_DIR}/${lang}.mo hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    "
         bytes "${bytes}")
  string(APPEND arrays "// ${lang}\nconst unsigned char kCatalog${id}[] = {\n    ${bytes}\n};\n")
  string(APPEND cases "        case ${id}:\n            return kCatalog${id};\n")
  math(EXPR id "${id} + 1")
endforeach()
file(WRITE ${OUTPUT} "// Generated at build time from the compiled message catalogs; edit resources/po instead.
#include \"resources/message_catalogs.h\"

namespace qelt {
namespace {

${arrays}
}  // namespace

std::span<const unsigned char> LoadMessageCatalogResource(unsigned id) {
    switch (id) {
${cases}        default:
            return {};
    }
}

}  // namespace qelt
")
