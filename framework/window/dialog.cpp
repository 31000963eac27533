// SPDX-License-Identifier: Apache-2.0
// Dialogs from templates, data exchange, and the static control.
#include "framework/window/dialog.h"

#include <algorithm>
#include <cstring>

#include "framework/module/resources.h"
#include "framework/window/dialog_template.h"
#include "framework/window/internal/window_internal.h"

namespace {

int MulDivRound(int a, int b, int c) {
  long long p = static_cast<long long>(a) * b;
  return static_cast<int>((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

// Draws a static control's text in its font, aligned as its style says.
LRESULT StaticWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(hWnd, message, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hWnd, &ps);
  if (!dc) return 0;
  CString text;
  CWnd::FromHandle(hWnd)->GetWindowText(text);
  DWORD style = static_cast<DWORD>(GetWindowStyle(hWnd));
  UINT format = DT_WORDBREAK | DT_EXPANDTABS;
  if ((style & 0x3) == SS_CENTER) format |= DT_CENTER;
  if ((style & 0x3) == SS_RIGHT) format |= DT_RIGHT;
  if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, AFX_CLR_WINDOW_TEXT);
  RECT rc;
  GetClientRect(hWnd, &rc);
  DrawTextA(dc, text, text.GetLength(), &rc, format);
  SelectObject(dc, old);
  EndPaint(hWnd, &ps);
  return 0;
}

}  // namespace

CSize AfxGetDialogBaseUnits(HFONT hFont) {
  CRasterSurface surface(1, 1);
  HDC dc = CreateSurfaceDC(&surface);
  HGDIOBJ old = SelectObject(dc, hFont ? static_cast<HGDIOBJ>(hFont) : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SIZE size{0, 0};
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  GetTextExtentPoint32A(dc, kLetters, 52, &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  // The average width of the 52 letters, rounded to the nearest pixel.
  return CSize(std::max<LONG>(1, (size.cx / 26 + 1) / 2), std::max<LONG>(1, tm.tmHeight));
}

CDataExchange::CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

HWND CDataExchange::PrepareCtrl(int nIDC) {
  HWND h = m_pDlgWnd ? ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC) : nullptr;
  if (!h) Fail();
  return h;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return;
  HWND h = pDX->PrepareCtrl(nIDC);
  if (h && !rControl.SubclassWindow(h)) pDX->Fail();
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
  HWND h = pDX->PrepareCtrl(nIDC);
  if (!h) return;
  if (pDX->m_bSaveAndValidate)
    CWnd::FromHandle(h)->GetWindowText(value);
  else
    SetWindowTextA(h, value);
}

CDialog::CDialog() = default;

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
  const BYTE* data = nullptr;
  DWORD size = 0;
  HINSTANCE module = nullptr;
  m_nIDTemplate = nIDTemplate;
  m_pParentWnd = pParentWnd;
  if (!AfxFindResource(RT_DIALOG_TYPE, nIDTemplate, &data, &size, &module)) return FALSE;
  return CreateIndirect(data, size, m_pParentWnd, module);
}

BOOL CDialog::CreateIndirect(const void* lpDialogTemplate, DWORD nSize, CWnd* pParentWnd, HINSTANCE hInstance) {
  if (m_hWnd) return FALSE;
  CDialogTemplate t;
  CString error;
  if (!t.Read(static_cast<const BYTE*>(lpDialogTemplate), nSize, error)) return FALSE;
  m_pParentWnd = pParentWnd;

  // The dialog's font, from the template's point size and face at 96 dots per inch.
  HFONT font = nullptr;
  if (t.style & DS_SETFONT) {
    LOGFONTA lf{};
    lf.lfHeight = -MulDivRound(t.wPointSize, 96, 72);
    lf.lfWeight = 400;
    CString face = AfxTextFromUtf16(t.strFaceName);
    std::memcpy(lf.lfFaceName, face.GetString(), std::min<size_t>(face.GetLength(), LF_FACESIZE - 1));
    font = CreateFontIndirectA(&lf);
  }
  m_sizeBaseUnits = AfxGetDialogBaseUnits(font);

  CRect rc(t.x, t.y, t.x + t.cx, t.y + t.cy);
  MapDialogRect(&rc);
  DWORD style = t.style & ~(DS_SETFONT | DS_MODALFRAME | WS_VISIBLE);
  if (t.style & DS_MODALFRAME) style |= WS_DLGFRAME;
  HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  // Placed relative to the parent's client area (a child's own coordinates
  // are that already); the frame and caption come on top of the client size.
  POINT origin{0, 0};
  if (parent && !(style & WS_CHILD)) ::ClientToScreen(parent, &origin);
  int frame = (style & (WS_CAPTION | WS_DLGFRAME)) ? AFX_CX_DLGFRAME : 0;
  int caption = (style & WS_CAPTION) == WS_CAPTION ? AFX_CY_CAPTION : 0;
  CString caption8 = AfxTextFromUtf16(t.strCaption);
  if (!CreateEx(t.dwExtendedStyle, "#32770", caption8, style,
                CRect(origin.x + rc.left, origin.y + rc.top, origin.x + rc.right + 2 * frame,
                      origin.y + rc.bottom + 2 * frame + caption),
                m_pParentWnd, 0)) {
    if (font) DeleteObject(font);
    return FALSE;
  }
  m_hWnd->hFont = font;
  m_hWnd->bOwnsFont = true;
  m_hWnd->hInstance = hInstance;

  for (const CDialogItemTemplate& item : t.items) {
    CString cls = item.className.IsOrdinal() ? CString(AfxClassNameFromAtom(item.className.nOrdinal))
                                             : AfxTextFromUtf16(item.className.strText);
    CString title = item.title.IsOrdinal() ? CString() : AfxTextFromUtf16(item.title.strText);
    CRect rcItem(item.x, item.y, item.x + item.cx, item.y + item.cy);
    MapDialogRect(&rcItem);
    HWND h = CreateWindowExA(item.dwExtendedStyle, cls, title, item.style | WS_CHILD, rcItem.left, rcItem.top,
                             rcItem.Width(), rcItem.Height(), m_hWnd, item.id, hInstance, nullptr);
    if (!h) {
      DestroyWindow();
      return FALSE;
    }
    ::SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (!m_hWnd) return FALSE;
  if (SendMessage(WM_INITDIALOG, 0, 0) && m_hWnd) {
    // The focus goes to the first control that takes it.
    for (HWND c : m_hWnd->children)
      if (c->dwStyle & WS_TABSTOP) {
        ::SetFocus(c);
        break;
      }
  }
  if (!m_hWnd) return FALSE;
  if (t.style & WS_VISIBLE) ShowWindow(SW_SHOW);
  return TRUE;
}

void CDialog::MapDialogRect(LPRECT lpRect) const {
  lpRect->left = MulDivRound(lpRect->left, m_sizeBaseUnits.cx, 4);
  lpRect->right = MulDivRound(lpRect->right, m_sizeBaseUnits.cx, 4);
  lpRect->top = MulDivRound(lpRect->top, m_sizeBaseUnits.cy, 8);
  lpRect->bottom = MulDivRound(lpRect->bottom, m_sizeBaseUnits.cy, 8);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (UpdateData(TRUE)) EndDialog(static_cast<int>(IDOK));
}

void CDialog::OnCancel() { EndDialog(static_cast<int>(IDCANCEL)); }

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  ShowWindow(SW_HIDE);
}

// The dialog's own messages: initialisation, and the keys and closing that end it.
LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnWndMsg(message, wParam, lParam, &result)) return result;
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) OnCancel();
      if (wParam == VK_RETURN) OnOK();
      return 0;
    case WM_CLOSE:
      OnCancel();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) OnOK();
      if (LOWORD(wParam) == IDCANCEL) OnCancel();
      return 0;
    default:
      return DefWindowProc(message, wParam, lParam);
  }
}

void AfxRegisterDialogClasses() {
  AfxRegisterWindowClass("#32770", DefWindowProcA);
  AfxRegisterWindowClass("Static", StaticWndProc, 0x0082);
}
