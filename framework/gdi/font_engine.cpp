// SPDX-License-Identifier: Apache-2.0
#include "framework/gdi/font_engine.h"

#include "framework/core/code_page.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>

namespace tarvenkel::gdi {

namespace {

// FreeType's library object and fontconfig's configuration are shared by all
// fonts; opening and closing faces and querying fontconfig happen under this lock.
std::mutex g_libraryMutex;
FT_Library g_library = nullptr;
FcConfig* g_config = nullptr;

bool ensure_libraries() {
  if (g_library == nullptr && FT_Init_FreeType(&g_library) != 0) g_library = nullptr;
  if (g_config == nullptr) {
#if defined(__SANITIZE_ADDRESS__)
    // Debian 12's fontconfig loses a few hundred bytes while parsing its
    // configuration, once per process; that is not ours to report.
    __lsan_disable();
#endif
    g_config = FcInitLoadConfigAndFonts();
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
  }
  return g_library != nullptr && g_config != nullptr;
}

struct FontFile {
  std::string file;
  int index = 0;
  std::string family;
};

std::string pattern_string(FcPattern* p, const char* object) {
  FcChar8* s = nullptr;
  if (FcPatternGetString(p, object, 0, &s) == FcResultMatch && s != nullptr) return reinterpret_cast<const char*>(s);
  return {};
}

int pattern_int(FcPattern* p, const char* object, int fallback) {
  int v = 0;
  return FcPatternGetInteger(p, object, 0, &v) == FcResultMatch ? v : fallback;
}

FontFile font_file_of(FcPattern* p) {
  FontFile f;
  f.file = pattern_string(p, FC_FILE);
  f.index = pattern_int(p, FC_INDEX, 0);
  f.family = pattern_string(p, FC_FAMILY);
  return f;
}

bool contains_cjk(const std::string& utf8) {
  for (unsigned char c : utf8) {
    if (c >= 0xE3) return true;  // lead bytes of U+3000 and above
  }
  return false;
}

// Builds the fontconfig pattern for a logical font. Caller holds g_libraryMutex.
FcPattern* make_pattern(const LOGFONTA& lf, const std::vector<std::string>& families, bool cjk) {
  FcPattern* p = FcPatternCreate();
  for (const std::string& family : families) {
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  }
  LONG weight = lf.lfWeight == FW_DONTCARE ? FW_NORMAL : lf.lfWeight;
  FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(std::clamp<int>(weight, 1, 1000)));
  FcPatternAddInteger(p, FC_SLANT, lf.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (cjk || lf.lfCharSet == GB2312_CHARSET) {
    FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("zh-cn"));
  }
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(g_config, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  return p;
}

// The best file for a logical font. Caller holds g_libraryMutex.
FontFile match_font(const LOGFONTA& lf, const std::vector<std::string>& families, bool cjk) {
  FcPattern* p = make_pattern(lf, families, cjk);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(g_config, p, &result);
  FontFile f;
  if (match != nullptr) {
    f = font_file_of(match);
    FcPatternDestroy(match);
  }
  FcPatternDestroy(p);
  return f;
}

// The first font in fontconfig's order for this logical font that has a glyph
// for ch. Caller holds g_libraryMutex.
FontFile find_covering_font(const LOGFONTA& lf, const std::vector<std::string>& families, char32_t ch) {
  FcPattern* p = make_pattern(lf, families, ch >= 0x2E80);
  FcResult result = FcResultNoMatch;
  FcFontSet* set = FcFontSort(g_config, p, FcFalse, nullptr, &result);
  FontFile f;
  if (set != nullptr) {
    for (int i = 0; i < set->nfont; ++i) {
      FcCharSet* cs = nullptr;
      if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &cs) == FcResultMatch && FcCharSetHasChar(cs, ch)) {
        f = font_file_of(set->fonts[i]);
        break;
      }
    }
    FcFontSetDestroy(set);
  }
  FcPatternDestroy(p);
  return f;
}

std::string decode_face_name(const LOGFONTA& lf) {
  std::size_t n = 0;
  while (n < static_cast<std::size_t>(LF_FACESIZE) && lf.lfFaceName[n] != '\0') ++n;
  return EncodeUtf8(DecodeAnsi(lf.lfFaceName, static_cast<int>(n)));
}

}  // namespace

std::vector<std::string> CandidateFamilies(const std::string& face, BYTE nPitchAndFamily) {
  struct Alias {
    const char* name;
    std::vector<std::string> families;
  };
  static const Alias aliases[] = {
      {"宋体", {"AR PL UMing CN", "AR PL SungtiL GB", "Noto Serif CJK SC"}},
      {"SimSun", {"AR PL UMing CN", "AR PL SungtiL GB", "Noto Serif CJK SC"}},
      {"新宋体", {"AR PL UMing CN", "AR PL SungtiL GB", "Noto Serif CJK SC"}},
      {"NSimSun", {"AR PL UMing CN", "AR PL SungtiL GB", "Noto Serif CJK SC"}},
      {"楷体", {"AR PL UKai CN", "AR PL KaitiM GB", "AR PL UMing CN"}},
      {"KaiTi", {"AR PL UKai CN", "AR PL KaitiM GB", "AR PL UMing CN"}},
      {"黑体", {"Noto Sans CJK SC", "WenQuanYi Zen Hei", "AR PL UMing CN"}},
      {"SimHei", {"Noto Sans CJK SC", "WenQuanYi Zen Hei", "AR PL UMing CN"}},
      {"微软雅黑", {"Noto Sans CJK SC", "WenQuanYi Micro Hei", "AR PL UMing CN"}},
      {"Microsoft YaHei", {"Noto Sans CJK SC", "WenQuanYi Micro Hei", "AR PL UMing CN"}},
      {"MS Sans Serif", {"DejaVu Sans", "sans-serif"}},
      {"MS Shell Dlg", {"DejaVu Sans", "sans-serif"}},
      {"MS Shell Dlg 2", {"DejaVu Sans", "sans-serif"}},
      {"System", {"DejaVu Sans", "sans-serif"}},
      {"Courier", {"DejaVu Sans Mono", "monospace"}},
  };
  std::vector<std::string> families;
  for (const Alias& a : aliases) {
    if (strcasecmp(a.name, face.c_str()) == 0) families = a.families;
  }
  if (!face.empty()) families.insert(families.begin() + std::min<std::size_t>(families.size(), 1), face);
  if (families.empty()) {
    BYTE family = nPitchAndFamily & 0xF0;
    if ((nPitchAndFamily & 0x03) == FIXED_PITCH || family == FF_MODERN) {
      families.push_back("monospace");
    } else if (family == FF_ROMAN) {
      families.push_back("serif");
    } else {
      families.push_back("sans-serif");
    }
  }
  return families;
}

struct CFontInstance::Face {
  FT_Face ft = nullptr;
  std::string file;
  int index = 0;
  ~Face() {
    if (ft != nullptr) {
      std::lock_guard<std::mutex> lock(g_libraryMutex);
      FT_Done_Face(ft);
    }
  }
};

CFontInstance::~CFontInstance() = default;

void CFontInstance::GetMetrics(TEXTMETRICA* ptm) const { *ptm = m_metrics; }
int CFontInstance::GetEmPixels() const { return m_nEm; }
BOOL CFontInstance::IsUnderline() const { return m_bUnderline; }
BOOL CFontInstance::IsStrikeOut() const { return m_bStrikeOut; }
const std::string& CFontInstance::GetFamilyName() const { return m_sFamily; }
const std::string& CFontInstance::GetFilePath() const { return m_sFile; }
BOOL CFontInstance::IsSyntheticBold() const { return m_bEmbolden; }
BOOL CFontInstance::IsSyntheticItalic() const { return m_bOblique; }

std::unique_ptr<CFontInstance::Face> CFontInstance::load_face(const std::string& file, int index) {
  if (file.empty()) return nullptr;
  auto face = std::make_unique<Face>();
  face->file = file;
  face->index = index;
  std::lock_guard<std::mutex> lock(g_libraryMutex);
  if (!ensure_libraries() || FT_New_Face(g_library, file.c_str(), index, &face->ft) != 0) return nullptr;
  return face;
}

CFontInstance::Face* CFontInstance::add_face(std::unique_ptr<Face> face) {
  if (face == nullptr) return nullptr;
  if (FT_IS_SCALABLE(face->ft)) {
    FT_Set_Pixel_Sizes(face->ft, static_cast<FT_UInt>(m_nEmX > 0 ? m_nEmX : m_nEm), static_cast<FT_UInt>(m_nEm));
  } else if (face->ft->num_fixed_sizes > 0) {
    FT_Select_Size(face->ft, 0);
  }
  m_faces.push_back(std::move(face));
  return m_faces.back().get();
}

CFontInstance::Face* CFontInstance::open_face(const std::string& file, int index) {
  for (auto& f : m_faces) {
    if (f->file == file && f->index == index) return f.get();
  }
  return add_face(load_face(file, index));
}

void CFontInstance::realise(const LOGFONTA& lf) {
  std::string face = decode_face_name(lf);
  std::vector<std::string> families = CandidateFamilies(face, lf.lfPitchAndFamily);
  m_familyLogFont = lf;
  m_families = families;
  FontFile file;
  {
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    if (ensure_libraries()) file = match_font(lf, families, contains_cjk(face));
  }
  m_nWeight = lf.lfWeight == FW_DONTCARE ? FW_NORMAL : lf.lfWeight;
  m_bItalic = lf.lfItalic != 0;
  m_bUnderline = lf.lfUnderline != 0;
  m_bStrikeOut = lf.lfStrikeOut != 0;
  m_sFamily = file.family;
  m_sFile = file.file;

  // The em: a negative height is the character height, a positive one the
  // cell height (ascent + descent), which needs the face's proportions.
  std::unique_ptr<Face> primary = load_face(file.file, file.index);
  FT_Face probe = primary != nullptr ? primary->ft : nullptr;
  double upem = 1000, ascent = 800, descent = 200, avg = 0;
  // Whether the face itself is bold or italic; fontconfig may report a
  // synthetic style for a regular face, which we then produce ourselves.
  bool bFaceBold = probe != nullptr && (probe->style_flags & FT_STYLE_FLAG_BOLD) != 0;
  bool bFaceItalic = probe != nullptr && (probe->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
  if (probe != nullptr && FT_IS_SCALABLE(probe)) {
    upem = probe->units_per_EM;
    ascent = probe->ascender;
    descent = -probe->descender;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(probe, FT_SFNT_OS2)); os2 != nullptr && os2->version != 0xFFFF) {
      if (os2->usWinAscent + os2->usWinDescent > 0) {
        ascent = os2->usWinAscent;
        descent = os2->usWinDescent;
      }
      avg = os2->xAvgCharWidth;
      bFaceBold = bFaceBold || os2->usWeightClass >= 600;
    }
  }
  m_bEmbolden = m_nWeight >= FW_SEMIBOLD && !bFaceBold && probe != nullptr;
  m_bOblique = m_bItalic && !bFaceItalic && probe != nullptr;
  if (ascent + descent <= 0) { ascent = 0.8 * upem; descent = 0.2 * upem; }
  if (lf.lfHeight < 0) {
    m_nEm = lf.lfHeight < -4096 ? 4096 : -lf.lfHeight;
  } else if (lf.lfHeight > 0) {
    m_nEm = static_cast<int>(std::clamp<double>(std::lround(lf.lfHeight * upem / (ascent + descent)), 1, 4096));
  } else {
    m_nEm = 12;
  }
  m_nEm = std::min(m_nEm, 4096);
  int nAscent = static_cast<int>(std::lround(ascent * m_nEm / upem));
  int nDescent = static_cast<int>(std::lround(descent * m_nEm / upem));
  if (lf.lfHeight > 0 && lf.lfHeight <= 8192) nDescent = std::max(0, static_cast<int>(lf.lfHeight) - nAscent);
  int nAvg = avg > 0 ? static_cast<int>(std::lround(avg * m_nEm / upem)) : 0;
  if (lf.lfWidth > 0 && nAvg > 0) {
    m_nEmX = std::clamp(static_cast<int>(std::lround(static_cast<double>(m_nEm) * lf.lfWidth / nAvg)), 1, 4096);
    nAvg = lf.lfWidth;
  }
  add_face(std::move(primary));

  m_metrics = TEXTMETRICA{};
  m_metrics.tmAscent = nAscent;
  m_metrics.tmDescent = nDescent;
  m_metrics.tmHeight = nAscent + nDescent;
  m_metrics.tmInternalLeading = std::max(0, m_metrics.tmHeight - m_nEm);
  m_metrics.tmWeight = m_nWeight;
  m_metrics.tmItalic = lf.lfItalic;
  m_metrics.tmUnderlined = lf.lfUnderline;
  m_metrics.tmStruckOut = lf.lfStrikeOut;
  m_metrics.tmPitchAndFamily = lf.lfPitchAndFamily;
  m_metrics.tmCharSet = lf.lfCharSet;
  m_metrics.tmAveCharWidth = nAvg > 0 ? nAvg : GetGlyph(U'x').nAdvance;
  m_metrics.tmMaxCharWidth = std::max<LONG>(m_metrics.tmAveCharWidth, GetGlyph(U'W').nAdvance);
  m_metrics.tmMaxCharWidth = std::max<LONG>(m_metrics.tmMaxCharWidth, GetGlyph(U'\u4E2D').nAdvance);
}

CFontInstance::Face* CFontInstance::face_for(char32_t ch) {
  if (m_faces.empty()) return nullptr;
  if (ch < 0x20 || ch == 0x7F) return m_faces[0].get();
  for (auto& f : m_faces) {
    if (FT_Get_Char_Index(f->ft, ch) != 0) return f.get();
  }
  FontFile file;
  {
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    if (ensure_libraries()) file = find_covering_font(m_familyLogFont, m_families, ch);
  }
  if (file.file.empty()) return m_faces[0].get();
  Face* f = open_face(file.file, file.index);
  return f != nullptr ? f : m_faces[0].get();
}

// Renders one glyph into the cache. Caller holds m_mutex.
const CGlyph& CFontInstance::render_glyph(char32_t ch) {
  CGlyph g;
  Face* face = face_for(ch);
  if (face == nullptr) {
    g.nAdvance = std::max(1, m_nEm / 2);
    return m_glyphs.emplace(ch, std::move(g)).first->second;
  }
  FT_Face ft = face->ft;
  FT_UInt index = (ch < 0x20 || ch == 0x7F) ? 0 : FT_Get_Char_Index(ft, ch);
  FT_Int32 flags = FT_LOAD_DEFAULT;
  if (m_bEmbolden || m_bOblique) flags |= FT_LOAD_NO_BITMAP;
  if (FT_Load_Glyph(ft, index, flags) == 0) {
    FT_GlyphSlot slot = ft->glyph;
    if (m_bOblique && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Oblique(slot);
    if (m_bEmbolden) FT_GlyphSlot_Embolden(slot);
    if (slot->format != FT_GLYPH_FORMAT_BITMAP) FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL);
    g.nAdvance = static_cast<int>((slot->advance.x + 32) >> 6);
    const FT_Bitmap& bm = slot->bitmap;
    g.nLeft = slot->bitmap_left;
    g.nTop = slot->bitmap_top;
    g.nWidth = static_cast<int>(bm.width);
    g.nRows = static_cast<int>(bm.rows);
    g.coverage.assign(static_cast<std::size_t>(g.nWidth) * g.nRows, 0);
    for (int y = 0; y < g.nRows; ++y) {
      const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      for (int x = 0; x < g.nWidth; ++x) {
        BYTE v = 0;
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
          v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
          v = static_cast<BYTE>(bm.num_grays == 256 ? row[x] : row[x] * 255 / std::max(1, bm.num_grays - 1));
        }
        g.coverage[static_cast<std::size_t>(y) * g.nWidth + x] = v;
      }
    }
  } else {
    g.nAdvance = std::max(1, m_nEm / 2);
  }
  return m_glyphs.emplace(ch, std::move(g)).first->second;
}

const CGlyph& CFontInstance::GetGlyph(char32_t ch) {
  if (ch < 128) {
    if (const CGlyph* g = m_ascii[ch].load(std::memory_order_acquire)) return *g;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_glyphs.find(ch);
  const CGlyph& g = it != m_glyphs.end() ? it->second : render_glyph(ch);
  if (ch < 128) m_ascii[ch].store(&g, std::memory_order_release);
  return g;
}

namespace {

std::mutex g_cacheMutex;
std::unordered_map<std::string, std::shared_ptr<CFontInstance>>& font_cache() {
  static auto* cache = new std::unordered_map<std::string, std::shared_ptr<CFontInstance>>;
  return *cache;
}

}  // namespace

void FlushFontCache() {
  std::unordered_map<std::string, std::shared_ptr<CFontInstance>> old;
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  old.swap(font_cache());
}

std::shared_ptr<CFontInstance> RealiseFont(const LOGFONTA& lf) {
  // The key is the record with the face name cut at its terminator, plus the
  // code page the face name is read in.
  LOGFONTA key = lf;
  std::size_t n = 0;
  while (n < static_cast<std::size_t>(LF_FACESIZE) && key.lfFaceName[n] != '\0') ++n;
  std::memset(key.lfFaceName + n, 0, LF_FACESIZE - n);
  key.lfFaceName[LF_FACESIZE - 1] = '\0';
  std::string sKey(reinterpret_cast<const char*>(&key), sizeof(key));
  UINT cp = AfxGetAnsiCodePage();
  sKey.append(reinterpret_cast<const char*>(&cp), sizeof(cp));

  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto it = font_cache().find(sKey);
    if (it != font_cache().end()) return it->second;
  }
  std::shared_ptr<CFontInstance> font(new CFontInstance);
  font->realise(key);
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  return font_cache().emplace(sKey, font).first->second;
}

}  // namespace tarvenkel::gdi
