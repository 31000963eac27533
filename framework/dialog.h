// Dialogs made from templates, the data exchange between a dialog's members
// and its controls, and the static text control.
#pragma once

#include "framework/window.h"

constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;

// Static control styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_NOPREFIX = 0x0080;

// The direction and state of one run of DoDataExchange.
class AFX_EXT_CLASS CDataExchange {
public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate);

  BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
  CWnd* m_pDlgWnd;
  BOOL m_bFailed = FALSE;   // a control was missing

  // The control with this id, or null (and the exchange marked failed).
  HWND PrepareCtrl(int nIDC);
  void Fail() { m_bFailed = TRUE; }
};

// Attaches rControl to the dialog's control nIDC, once.
AFX_API_EXPORT void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Moves a text between a member and the control nIDC.
AFX_API_EXPORT void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

class AFX_EXT_CLASS CDialog : public CWnd {
public:
  CDialog();
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Creates the dialog modeless from template nIDTemplate, found through the
  // chain of modules. FALSE if the template is missing or malformed.
  using CWnd::Create;
  BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  // Creates the dialog modeless from template bytes; controls belong to hInstance.
  BOOL CreateIndirect(const void* lpDialogTemplate, DWORD nSize, CWnd* pParentWnd = nullptr,
                      HINSTANCE hInstance = nullptr);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  // Ends a modeless dialog by hiding it; the owner destroys it.
  void EndDialog(int nResult);

  // Converts a rectangle from dialog units to pixels with the dialog's font.
  void MapDialogRect(LPRECT lpRect) const;
  // Horizontal and vertical base units of the dialog's font (the average
  // character width and the character height), in pixels.
  CSize GetBaseUnits() const { return m_sizeBaseUnits; }

  UINT m_nIDHelp = 0;

protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDTemplate = 0;
  CWnd* m_pParentWnd = nullptr;
  int m_nModalResult = 0;

private:
  CSize m_sizeBaseUnits;
};

// The base units of a font: average width of the Latin letters and height, in pixels.
AFX_API_EXPORT CSize AfxGetDialogBaseUnits(HFONT hFont);
