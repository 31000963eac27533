// SPDX-License-Identifier: Apache-2.0
// Realised fonts: a logical font resolved to font files through fontconfig,
// sized, and rendered glyph by glyph through FreeType. Realised fonts and
// their glyphs are cached for the life of the process, so creating the same
// logical font again costs a hash look-up; everything here is thread-safe.
#pragma once

#include "framework/gdi/gdi_types.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvenkel::gdi {

// One rendered glyph: an 8-bit coverage bitmap placed relative to the pen
// position on the baseline (nTop pixels above it), and the pen advance.
struct CGlyph {
  int nAdvance = 0;            // pen advance in pixels
  int nLeft = 0;               // bitmap's left edge, right of the pen position
  int nTop = 0;                // bitmap's top row, above the baseline
  int nWidth = 0;              // bitmap width in pixels
  int nRows = 0;               // bitmap height in pixels
  std::vector<BYTE> coverage;  // nRows rows of nWidth bytes, 0 (none) to 255 (full)
};

// A logical font resolved to a chain of faces (the primary one and fallbacks
// for characters it lacks) at one size; made by RealiseFont only. A surface
// that measures text is handed one. Its members are read through functions
// of the library, so its layout is the library's own.
class AFX_EXT_CLASS CFontInstance {
public:
  ~CFontInstance();
  CFontInstance(const CFontInstance&) = delete;
  CFontInstance& operator=(const CFontInstance&) = delete;

  // The glyph for a character, rendered on first use; the reference stays valid.
  const CGlyph& GetGlyph(char32_t ch);
  // Metrics as GDI reports them: height = ascent + descent, internal leading = height - em.
  void GetMetrics(TEXTMETRICA* ptm) const;
  // The em size in pixels (from lfHeight; 12 when it is 0; at most 4096).
  int GetEmPixels() const;
  // Whether the logical font asks for underlined text.
  BOOL IsUnderline() const;
  // Whether the logical font asks for struck-out text.
  BOOL IsStrikeOut() const;
  // Family and file of the primary face ("" when no font could be loaded).
  const std::string& GetFamilyName() const;
  // The font file of the primary face ("" when none could be loaded).
  const std::string& GetFilePath() const;
  // Bold asked for but the face is not bold: glyphs are emboldened.
  BOOL IsSyntheticBold() const;
  // Italic asked for but the face is upright: glyphs are slanted.
  BOOL IsSyntheticItalic() const;

private:
  friend AFX_API_EXPORT std::shared_ptr<CFontInstance> RealiseFont(const LOGFONTA& lf);
  struct Face;
  CFontInstance() = default;
  void realise(const LOGFONTA& lf);
  const CGlyph& render_glyph(char32_t ch);
  Face* face_for(char32_t ch);
  // Opens a face of a font file, not yet sized; null when it cannot be read.
  static std::unique_ptr<Face> load_face(const std::string& file, int index);
  // Sizes a face to this font and adds it to the fallback chain.
  Face* add_face(std::unique_ptr<Face> face);
  // The face of the chain from that file, opened and added if needed.
  Face* open_face(const std::string& file, int index);

  std::mutex m_mutex;  // guards the faces and the glyph map
  std::vector<std::unique_ptr<Face>> m_faces;  // [0] is the primary face
  std::unordered_map<char32_t, CGlyph> m_glyphs;
  std::atomic<const CGlyph*> m_ascii[128] = {};
  TEXTMETRICA m_metrics{};
  int m_nEm = 12;
  int m_nEmX = 0;  // horizontal em when lfWidth asks for narrower or wider glyphs
  LONG m_nWeight = FW_NORMAL;
  BOOL m_bItalic = FALSE;
  BOOL m_bUnderline = FALSE;
  BOOL m_bStrikeOut = FALSE;
  BOOL m_bEmbolden = FALSE;
  BOOL m_bOblique = FALSE;
  std::string m_sFamily;
  std::string m_sFile;
  // What found the primary face, kept to ask fontconfig for fallback faces.
  LOGFONTA m_familyLogFont{};
  std::vector<std::string> m_families;
};

// The realised font for a logical font (shared by all logical fonts that are
// byte for byte the same under the same code page).
AFX_API_EXPORT std::shared_ptr<CFontInstance> RealiseFont(const LOGFONTA& lf);

// Forgets every realised font; fonts still held by font handles stay alive
// until those go. For measuring the cost of a first use.
AFX_API_EXPORT void FlushFontCache();

// The font families that fontconfig is asked for, in order, for a face name
// (UTF-8) and a pitch-and-family byte: Chinese system face names map to the
// Song, Kai and Hei typefaces that Linux ships, UI face names to sans-serif.
std::vector<std::string> CandidateFamilies(const std::string& sFaceUtf8, BYTE nPitchAndFamily);

}  // namespace tarvenkel::gdi
