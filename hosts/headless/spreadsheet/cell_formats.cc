#include "hosts/headless/spreadsheet/cell_formats.h"

#include <charconv>
#include <map>

#include "util/text.h"

namespace korvel {
namespace {

// Element names may carry a namespace prefix ("x:numFmt").
bool named(pugi::xml_node node, std::string_view name) {
  std::string_view full = node.name();
  size_t colon = full.find(':');
  return (colon == std::string_view::npos ? full : full.substr(colon + 1)) == name;
}

pugi::xml_node child(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (named(c, name)) return c;
  return {};
}

bool readId(const char* text, int64_t* out) {
  std::string_view view = text;
  auto [end, failed] = std::from_chars(view.data(), view.data() + view.size(), *out);
  return !view.empty() && failed == std::errc() && end == view.data() + view.size();
}

struct BuiltIn {
  int64_t id;
  const char16_t* code;
};

// The ids 1 to 49 that have codes, as the program shows them in the en-US locale.
constexpr BuiltIn kBuiltIn[] = {
    {1, u"0"},
    {2, u"0.00"},
    {3, u"#,##0"},
    {4, u"#,##0.00"},
    {5, u"$#,##0_);($#,##0)"},
    {6, u"$#,##0_);[Red]($#,##0)"},
    {7, u"$#,##0.00_);($#,##0.00)"},
    {8, u"$#,##0.00_);[Red]($#,##0.00)"},
    {9, u"0%"},
    {10, u"0.00%"},
    {11, u"0.00E+00"},
    {12, u"# ?/?"},
    {13, u"# ??/??"},
    {14, u"m/d/yyyy"},
    {15, u"d-mmm-yy"},
    {16, u"d-mmm"},
    {17, u"mmm-yy"},
    {18, u"h:mm AM/PM"},
    {19, u"h:mm:ss AM/PM"},
    {20, u"h:mm"},
    {21, u"h:mm:ss"},
    {22, u"m/d/yyyy h:mm"},
    {37, u"#,##0 ;(#,##0)"},
    {38, u"#,##0 ;[Red](#,##0)"},
    {39, u"#,##0.00;(#,##0.00)"},
    {40, u"#,##0.00;[Red](#,##0.00)"},
    {41, u"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)"},
    {42, u"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)"},
    {43, u"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)"},
    {44, u"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)"},
    {45, u"mm:ss"},
    {46, u"[h]:mm:ss"},
    {47, u"mm:ss.0"},
    {48, u"##0.0E+0"},
    {49, u"@"},
};

}  // namespace

std::u16string_view builtInNumberFormat(int64_t id) {
  for (const BuiltIn& format : kBuiltIn) {
    if (format.id == id) return format.code;
  }
  return {};
}

std::vector<std::u16string> cellFormatCodes(pugi::xml_node styleSheet) {
  std::map<int64_t, std::u16string> own;
  for (pugi::xml_node f = child(child(styleSheet, "numFmts"), "numFmt"); f; f = f.next_sibling()) {
    int64_t id = 0;
    if (named(f, "numFmt") && readId(f.attribute("numFmtId").value(), &id))
      own[id] = fromUtf8(f.attribute("formatCode").value());
  }
  std::vector<std::u16string> codes;
  for (pugi::xml_node xf = child(child(styleSheet, "cellXfs"), "xf"); xf; xf = xf.next_sibling()) {
    if (!named(xf, "xf")) continue;
    int64_t id = 0;
    std::u16string code;
    if (readId(xf.attribute("numFmtId").value(), &id)) {
      auto found = own.find(id);
      code = found != own.end() ? found->second : std::u16string(builtInNumberFormat(id));
    }
    if (equalsNoCase(code, u"General")) code.clear();
    codes.push_back(std::move(code));
  }
  return codes;
}

}  // namespace korvel
