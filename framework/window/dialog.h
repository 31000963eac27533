// SPDX-License-Identifier: Apache-2.0
// Dialogs made from templates, the data exchange between a dialog's members
// and its controls, and the static text control.
#pragma once

#include "framework/window/window.h"

constexpr UINT IDOK = 1;      // the OK button's id and the result of OnOK
constexpr UINT IDCANCEL = 2;  // the Cancel button's id and the result of OnCancel

// Static control styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_NOPREFIX = 0x0080;

// The direction and state of one run of DoDataExchange.
class AFX_EXT_CLASS CDataExchange {
public:
  // An exchange with the controls of pDlgWnd in the direction given.
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate);

  BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
  CWnd* m_pDlgWnd;          // the dialog
  BOOL m_bFailed = FALSE;   // a control was missing

  // The control with this id, or null (and the exchange marked failed).
  HWND PrepareCtrl(int nIDC);
  // Marks the exchange failed; UpdateData then returns FALSE.
  void Fail() { m_bFailed = TRUE; }
};

// Attaches rControl to the dialog's control nIDC, once; a missing control
// fails the exchange.
AFX_API_EXPORT void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Moves a text between a member and the control nIDC; a missing control
// fails the exchange.
AFX_API_EXPORT void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

// A modeless dialog window made from a template, with its controls as
// children. Enter or IDOK calls OnOK; Escape, closing or IDCANCEL calls OnCancel.
class AFX_EXT_CLASS CDialog : public CWnd {
public:
  CDialog();
  // A dialog object for template nIDTemplate; no window yet.
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Creates the dialog modeless from template nIDTemplate, found through the
  // chain of modules, with pParentWnd as its parent (none for null, whatever
  // the constructor was given). A dialog that is not a child is placed
  // relative to its parent's client area on the screen. FALSE if the
  // template is missing or malformed.
  using CWnd::Create;
  BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  // Creates the dialog modeless from template bytes; controls belong to
  // hInstance. FALSE if the object already has a window, the template is
  // malformed, or a window cannot be created.
  BOOL CreateIndirect(const void* lpDialogTemplate, DWORD nSize, CWnd* pParentWnd = nullptr,
                      HINSTANCE hInstance = nullptr);

  // Called once the controls exist: moves the members to the controls
  // (UpdateData(FALSE)) and returns TRUE.
  virtual BOOL OnInitDialog();
  // Moves the controls to the members and, if that succeeds, ends the
  // dialog with IDOK.
  virtual void OnOK();
  // Ends the dialog with IDCANCEL.
  virtual void OnCancel();
  // Ends a modeless dialog by hiding it; the owner destroys it.
  void EndDialog(int nResult);

  // Converts a rectangle from dialog units to pixels with the dialog's font.
  void MapDialogRect(LPRECT lpRect) const;
  // Horizontal and vertical base units of the dialog's font (the average
  // character width and the character height), in pixels.
  CSize GetBaseUnits() const { return m_sizeBaseUnits; }

  UINT m_nIDHelp = 0;  // help context; not used by the framework

protected:
  // The message map first; then WM_INITDIALOG, Enter, Escape, WM_CLOSE and
  // the IDOK and IDCANCEL commands; everything else to DefWindowProc.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDTemplate = 0;        // the template the dialog is made from
  CWnd* m_pParentWnd = nullptr;  // the parent given to the constructor, then to the latest Create
  int m_nModalResult = 0;        // the result EndDialog was given

private:
  CSize m_sizeBaseUnits;
};

// The base units of a font: average width of the Latin letters and height, in pixels.
AFX_API_EXPORT CSize AfxGetDialogBaseUnits(HFONT hFont);
