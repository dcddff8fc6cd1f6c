#pragma once

#include <span>

namespace qelt {

// The compiled gettext catalogs of the domain "updater" embedded in the program, one per language, by resource id
// (111 cs, 112 de, 113 el, 114 es_AR, 115 es_ES, 116 fr, 117 it, 118 ja, 119 ko, 120 nl, 121 pl, 122 pt, 123 ro,
// 124 ru, 125 th, 126 tr, 127 zh_CN, 128 zh_TW). An empty span for any other id. The bytes live as long as the
// program.
std::span<const unsigned char> LoadMessageCatalogResource(unsigned id);

}  // namespace qelt
