// SPDX-License-Identifier: Apache-2.0
// What a device context draws on. A surface knows its size, whether it is a
// printer, and how to put pixels; the device context does everything else
// (state, clipping, line and text rasterisation) and tells the surface about
// each drawing call so that a recording surface can keep them.
//
// Drawing on a surface, e.g. in a window's paint code or a test:
//
//   CRasterSurface surface(200, 100);            // 32-bit pixels, white
//   CDC dc(&surface);                            // or dc.CreateFromSurface(&surface)
//   dc.FillSolidRect(CRect(0, 0, 200, 100), RGB(236, 233, 216));
//   dc.DrawText("Hello", CRect(0, 0, 200, 100), DT_CENTER | DT_VCENTER | DT_SINGLELINE);
//   surface.SavePng("/tmp/hello.png");
//
// A window keeps one CRasterSurface of its client size, wraps it in a CDC for
// painting, and shows GetBits() (0x00RRGGBB words, GetPitch() words a row).
// A CDC built over a CPrinterSurface reports IsPrinting().
#pragma once

#include "framework/core/string.h"
#include "framework/gdi/gdi_types.h"

#include <cstdint>
#include <vector>

namespace tarvenkel::gdi {
class CFontInstance;
}

// One call made on a device context, as a recording surface keeps it.
struct AFX_EXT_CLASS CDrawCall {
  // The device-context call made.
  enum Kind {
    selectObject,
    moveTo,
    lineTo,
    fillRect,
    rectangle,
    setBkMode,
    setBkColor,
    setTextColor,
    drawText,
    textOut,
    getTextExtent,
    setPixel,
  };
  Kind nKind;         // which call
  CRect rc;           // fillRect, rectangle, drawText (as passed), textOut (x, y in left, top)
  CRect rcResult;     // drawText with DT_CALCRECT: the rectangle as returned
  CPoint pt;          // moveTo, lineTo, setPixel
  UINT nFormat = 0;   // drawText flags
  COLORREF cr = 0;    // colour set, or the colour of the pen or brush used
  int nValue = 0;     // background mode, pen width, or object type selected
  HGDIOBJ hObject = nullptr;  // object selected, or the brush / pen used
  CString strText;    // drawText, textOut, getTextExtent
};

// The interface every surface implements.
class AFX_EXT_CLASS CSurface {
public:
  virtual ~CSurface() = default;

  // Width in pixels.
  virtual int GetWidth() const = 0;
  // Height in pixels.
  virtual int GetHeight() const = 0;
  // TRUE for a printer page; FALSE by default.
  virtual BOOL IsPrinting() const { return FALSE; }
  // Resolution in dots per inch, for GetDeviceCaps(LOGPIXELSX/Y).
  virtual int GetDpi() const { return 96; }

  // Every call made on a device context over this surface, before it runs.
  virtual void OnCall(const CDrawCall&) {}

  // Pixel operations. Callers must clip to the surface: 0 <= x0 <= x1 <= width, 0 <= y < height.
  virtual void FillSpan(int x0, int x1, int y, COLORREF cr) = 0;
  // Blends colour cr through an 8-bit coverage mask of w x h at (x, y), rows pitch bytes apart.
  virtual void BlendMask(int x, int y, const BYTE* pMask, int w, int h, int pitch, COLORREF cr) = 0;
  // The colour of a pixel; CLR_INVALID outside the surface (or where the
  // surface keeps no pixels).
  virtual COLORREF GetPixel(int x, int y) const = 0;

  // Text measuring. By default the real font's advances and metrics; a surface
  // may substitute its own.
  virtual int GetCharAdvance(tarvenkel::gdi::CFontInstance& font, char32_t ch);
  // The font's metrics as this surface measures them (see GetCharAdvance).
  virtual void GetFontMetrics(tarvenkel::gdi::CFontInstance& font, TEXTMETRICA* ptm);
};

// 32-bit pixels in memory: what a screen window or a memory DC draws on.
class AFX_EXT_CLASS CRasterSurface : public CSurface {
public:
  // A surface of cx x cy pixels (negative sizes count as 0), filled with crBackground.
  CRasterSurface(int cx, int cy, COLORREF crBackground = RGB(255, 255, 255));

  // Width in pixels.
  int GetWidth() const override { return m_cx; }
  // Height in pixels.
  int GetHeight() const override { return m_cy; }
  // Sets pixels x0..x1-1 of row y (already clipped by the caller).
  void FillSpan(int x0, int x1, int y, COLORREF cr) override;
  // Blends cr over the pixels by the mask's coverage (already clipped by the caller).
  void BlendMask(int x, int y, const BYTE* pMask, int w, int h, int pitch, COLORREF cr) override;
  // The colour of a pixel; CLR_INVALID outside the surface.
  COLORREF GetPixel(int x, int y) const override;

  // Resizes, keeping the overlapping pixels and filling new ones with crBackground.
  void Resize(int cx, int cy, COLORREF crBackground = RGB(255, 255, 255));
  // Fills every pixel with cr.
  void Clear(COLORREF cr);
  // The pixels, row after row, as 0x00RRGGBB words (the byte order of a 32-bit DIB and of a 24-bit X visual).
  const std::uint32_t* GetBits() const { return m_pixels.data(); }
  std::uint32_t* GetBits() { return m_pixels.data(); }
  // Words from one row to the next: the width.
  int GetPitch() const { return m_cx; }
  // Copies cx x cy pixels of 0x00RRGGBB words (srcPitch words a row) to (x, y), clipped to the surface.
  void CopyPixels(int x, int y, const std::uint32_t* pSrc, int cx, int cy, int srcPitch);

  // Writes the surface as an 8-bit RGB PNG file. FALSE if the file cannot be written.
  BOOL SavePng(const char* pszPath) const;

private:
  int m_cx;
  int m_cy;
  std::vector<std::uint32_t> m_pixels;
};

// A printer page: the same raster at printer resolution; device contexts over
// it report that they are printing.
class AFX_EXT_CLASS CPrinterSurface : public CRasterSurface {
public:
  // A white page of cx x cy pixels at nDpi dots per inch.
  CPrinterSurface(int cx, int cy, int nDpi = 600) : CRasterSurface(cx, cy), m_nDpi(nDpi) {}

  // Always TRUE.
  BOOL IsPrinting() const override { return TRUE; }
  // The resolution given to the constructor.
  int GetDpi() const override { return m_nDpi; }

private:
  int m_nDpi;
};

// Keeps every call made on it, with its arguments, and draws nothing: what a
// metafile is. Text is measured with the real font unless fixed cells are set.
class AFX_EXT_CLASS CRecordingSurface : public CSurface {
public:
  // A surface of cx x cy pixels (what clipping uses) that reports bPrinting.
  CRecordingSurface(int cx = 1000, int cy = 1000, BOOL bPrinting = FALSE)
      : m_cx(cx), m_cy(cy), m_bPrinting(bPrinting) {}

  // The width given to the constructor.
  int GetWidth() const override { return m_cx; }
  // The height given to the constructor.
  int GetHeight() const override { return m_cy; }
  // The bPrinting given to the constructor.
  BOOL IsPrinting() const override { return m_bPrinting; }
  // Keeps the call.
  void OnCall(const CDrawCall& call) override { m_calls.push_back(call); }
  // Draws nothing.
  void FillSpan(int, int, int, COLORREF) override {}
  // Draws nothing.
  void BlendMask(int, int, const BYTE*, int, int, int, COLORREF) override {}
  // Always CLR_INVALID: no pixels are kept.
  COLORREF GetPixel(int, int) const override { return CLR_INVALID; }

  // Every character measures cxChar wide and every line cyLine high (ascent
  // cyLine - cyLine / 4), whatever the font; 0, 0 goes back to the real font.
  void SetFixedCells(int cxChar, int cyLine) { m_cxChar = cxChar; m_cyLine = cyLine; }
  // cxChar when fixed cells are set, else the font's advance.
  int GetCharAdvance(tarvenkel::gdi::CFontInstance& font, char32_t ch) override;
  // The font's metrics with the fixed cell's height and width put in where set.
  void GetFontMetrics(tarvenkel::gdi::CFontInstance& font, TEXTMETRICA* ptm) override;

  // Every call kept, in order.
  const std::vector<CDrawCall>& GetCalls() const { return m_calls; }
  // The calls of one kind, in order.
  std::vector<CDrawCall> GetCalls(CDrawCall::Kind nKind) const;
  // Forgets the calls kept.
  void Clear() { m_calls.clear(); }

private:
  int m_cx;
  int m_cy;
  BOOL m_bPrinting;
  int m_cxChar = 0;
  int m_cyLine = 0;
  std::vector<CDrawCall> m_calls;
};
