// SPDX-License-Identifier: Apache-2.0
// The X11 window backend: each top-level window becomes an X window showing
// its raster surface. The framework draws the frame and caption itself, so
// the windows look the same with or without a window manager.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>

#include <cstring>
#include <vector>

#include "framework/core/code_page.h"
#include "framework/window/internal/window_internal.h"

namespace {

// Xlib's default handler ends the process on any protocol error, such as a
// request for a window that another client has just destroyed; a window
// layer must survive those.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

class X11Backend : public CWindowBackendImpl {
public:
  explicit X11Backend(Display* display) : m_display(display) {
    m_wmDelete = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
    m_wmProtocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
    m_netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
    m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
    m_busy = XCreateFontCursor(m_display, XC_watch);
    XSetErrorHandler(IgnoreXError);
  }
  ~X11Backend() override {
    XFreeCursor(m_display, m_busy);
    XCloseDisplay(m_display);
  }

  AfxWindowBackend Kind() const override { return AfxWindowBackend::X11; }

  void CreateTopLevel(HWND h) override {
    int screen = DefaultScreen(m_display);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = 0xC0C0C0;
    attrs.event_mask = ExposureMask | KeyPressMask | StructureNotifyMask;
    // Without a window manager the framework places the window itself.
    attrs.override_redirect = False;
    Window w = XCreateWindow(m_display, RootWindow(m_display, screen), h->rcWindow.left, h->rcWindow.top,
                             static_cast<unsigned>(std::max(1, h->rcWindow.Width())),
                             static_cast<unsigned>(std::max(1, h->rcWindow.Height())), 0, CopyFromParent,
                             InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attrs);
    h->nX11Window = w;
    XSetWMProtocols(m_display, w, &m_wmDelete, 1);
    XSizeHints hints{};
    hints.flags = PPosition | PSize | PMinSize | PMaxSize;
    hints.x = h->rcWindow.left, hints.y = h->rcWindow.top;
    hints.width = hints.min_width = hints.max_width = h->rcWindow.Width();
    hints.height = hints.min_height = hints.max_height = h->rcWindow.Height();
    XSetWMNormalHints(m_display, w, &hints);
    SetCaption(h);
    if (m_nBusy > 0) XDefineCursor(m_display, w, m_busy);
    // Other clients may refer to the window as soon as its handle is known.
    XSync(m_display, False);
  }

  void DestroyTopLevel(HWND h) override {
    if (!h->nX11Window) return;
    XDestroyWindow(m_display, h->nX11Window);
    h->nX11Window = 0;
    XFlush(m_display);
  }

  void ShowTopLevel(HWND h, bool bShow) override {
    if (!h->nX11Window) return;
    if (bShow) {
      XMapRaised(m_display, h->nX11Window);
      XMoveWindow(m_display, h->nX11Window, h->rcWindow.left, h->rcWindow.top);
    } else {
      XUnmapWindow(m_display, h->nX11Window);
    }
    XSync(m_display, False);
  }

  // The caption goes to the window manager in UTF-8 and, for old ones, as the plain name.
  void SetCaption(HWND h) override {
    if (!h->nX11Window) return;
    std::string utf8 = tarvenkel::EncodeUtf8(tarvenkel::DecodeAnsi(h->strText, h->strText.GetLength()));
    XChangeProperty(m_display, h->nX11Window, m_netWmName, m_utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
    XStoreName(m_display, h->nX11Window, utf8.c_str());
    XFlush(m_display);
  }

  void MoveTopLevel(HWND h) override {
    if (!h->nX11Window) return;
    XMoveResizeWindow(m_display, h->nX11Window, h->rcWindow.left, h->rcWindow.top,
                      static_cast<unsigned>(std::max(1, h->rcWindow.Width())),
                      static_cast<unsigned>(std::max(1, h->rcWindow.Height())));
    XFlush(m_display);
  }

  void Present(HWND h) override {
    if (!h->nX11Window || !h->pSurface) return;
    const CRasterSurface& s = *h->pSurface;
    int w = s.GetWidth(), ht = s.GetHeight();
    if (w <= 0 || ht <= 0) return;
    int screen = DefaultScreen(m_display);
    Visual* visual = DefaultVisual(m_display, screen);
    int depth = DefaultDepth(m_display, screen);
    // The surface's 0x00RRGGBB words are the pixels of a 24-bit TrueColor
    // visual; other visuals get each pixel through XPutPixel.
    std::vector<std::uint32_t> pixels(s.GetBits(), s.GetBits() + static_cast<size_t>(w) * ht);
    XImage* image = XCreateImage(m_display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), static_cast<unsigned>(w),
                                 static_cast<unsigned>(ht), 32, w * 4);
    if (!image) return;
    bool direct = depth >= 24 && image->bits_per_pixel == 32 && visual->red_mask == 0xFF0000 &&
                  visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF && image->byte_order == LSBFirst;
    std::vector<char> converted;
    if (!direct) {
      image->data = nullptr;
      XDestroyImage(image);
      image = XCreateImage(m_display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                           static_cast<unsigned>(w), static_cast<unsigned>(ht), 32, 0);
      if (!image) return;
      converted.resize(static_cast<size_t>(image->bytes_per_line) * ht);
      image->data = converted.data();
      for (int y = 0; y < ht; ++y)
        for (int x = 0; x < w; ++x) {
          std::uint32_t p = pixels[static_cast<size_t>(y) * w + x];
          XColor c{};
          c.red = static_cast<unsigned short>(((p >> 16) & 0xFF) * 257);
          c.green = static_cast<unsigned short>(((p >> 8) & 0xFF) * 257);
          c.blue = static_cast<unsigned short>((p & 0xFF) * 257);
          XPutPixel(image, x, y, color_pixel(c));
        }
    }
    GC gc = XCreateGC(m_display, h->nX11Window, 0, nullptr);
    XPutImage(m_display, h->nX11Window, gc, image, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(ht));
    XFreeGC(m_display, gc);
    image->data = nullptr;  // the pixels belong to the vectors
    XDestroyImage(image);
    XFlush(m_display);
  }

  int GetFd() const override { return ConnectionNumber(m_display); }

  bool ProcessEvents() override {
    bool any = false;
    while (XPending(m_display) > 0) {
      XEvent e;
      XNextEvent(m_display, &e);
      any = true;
      HWND h = find(e.xany.window);
      if (!h) continue;
      switch (e.type) {
        case Expose:
          if (e.xexpose.count == 0) {
            // The surface still holds the last painting; show it again.
            if (h->pSurface)
              Present(h);
            else
              InvalidateRect(h, nullptr, TRUE);
          }
          break;
        case ClientMessage:
          if (e.xclient.message_type == m_wmProtocols &&
              static_cast<Atom>(e.xclient.data.l[0]) == m_wmDelete)
            PostMessageA(h, WM_CLOSE, 0, 0);
          break;
        case KeyPress: {
          KeySym sym = XLookupKeysym(&e.xkey, 0);
          UINT vk = sym == XK_Escape ? VK_ESCAPE : sym == XK_Return ? VK_RETURN : static_cast<UINT>(sym & 0xFF);
          PostMessageA(h, WM_KEYDOWN, vk, 0);
          break;
        }
        default:
          break;
      }
    }
    return any;
  }

  void SetBusyCursor(bool bBusy) override {
    m_nBusy = bBusy ? 1 : 0;
    for (HWND h : AfxTopLevelWindows()) {
      if (!h->nX11Window) continue;
      if (bBusy)
        XDefineCursor(m_display, h->nX11Window, m_busy);
      else
        XUndefineCursor(m_display, h->nX11Window);
    }
    XFlush(m_display);
  }

private:
  HWND find(Window w) const {
    for (HWND h : AfxTopLevelWindows())
      if (h->nX11Window == w) return h;
    return nullptr;
  }

  unsigned long color_pixel(XColor& c) {
    int screen = DefaultScreen(m_display);
    XAllocColor(m_display, DefaultColormap(m_display, screen), &c);
    return c.pixel;
  }

  Display* m_display;
  Atom m_wmDelete, m_wmProtocols, m_netWmName, m_utf8;
  Cursor m_busy;
  int m_nBusy = 0;
};

}  // namespace

std::unique_ptr<CWindowBackendImpl> AfxCreateX11Backend() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  return std::make_unique<X11Backend>(display);
}
