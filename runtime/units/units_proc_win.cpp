// The unit kinds' windows and their input: creation from the design row,
// the window procedure (pointer, keys, timer, state queries), and the
// EditBox's subclass of a real EDIT control.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "runtime/value/codepage.h"
#include "runtime/units/units.h"
#include "runtime/units/units_impl.h"

namespace rt::units {

namespace {

constexpr wchar_t kEditProcProp[] = L"Unit_EditProc";

RECT client_rect(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return r;
}

bool is_button(UnitKind k) { return k == UnitKind::PicBtn || k == UnitKind::SuperBtn || k == UnitKind::CheckBox; }

// Units that take no pointer input let clicks through to what lies beneath,
// as a plain static control does: a header panel over a draggable page
// drags the window too.
bool passive(const Unit& u) {
  const UnitDesign& d = *u.design;
  if (d.on_click || d.on_mouse_down || d.on_mouse_up) return false;
  switch (d.kind) {
    case UnitKind::Label:
    case UnitKind::TransLabel:
    case UnitKind::PicBox:
    case UnitKind::CartoonBox:
    case UnitKind::TabBox:
    case UnitKind::ProcessBar:
      return true;
    default:
      return false;
  }
}

bool wants_hand(const Unit& u) { return u.design->hand_cursor || u.design->kind == UnitKind::HyperLinker; }

void click(Unit& u) {
  HWND hwnd = u.hwnd;
  if (u.design->kind == UnitKind::CheckBox) {
    u.checked = !u.checked;
    InvalidateRect(hwnd, nullptr, FALSE);
  }
  if (u.design->kind == UnitKind::HyperLinker && !u.target.empty()) {
    if (open_link(u.target, u.design->email)) {
      u.visited = true;
      InvalidateRect(hwnd, nullptr, FALSE);
    }
  }
  fire(hwnd, u.design->on_click);
}

LRESULT CALLBACK edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto former = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kEditProcProp));
  Unit* u = unit_of(hwnd);
  switch (msg) {
    case WM_NCCALCSIZE:
      if (wp && u) {
        RECT& r = reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0];
        int pad = std::max(1, static_cast<int>((r.bottom - r.top - line_height(hwnd, u->font)) / 2));
        r.left += px(*u, kEditPadding);
        r.right -= px(*u, kEditPadding);
        r.top += pad;
        r.bottom -= pad;
        if (r.bottom < r.top) r.bottom = r.top;
        return 0;
      }
      break;
    case WM_NCPAINT:
      if (u) {
        paint_edit_frame(*u);
        return 0;
      }
      break;
    case WM_NCHITTEST: {
      LRESULT h = CallWindowProcW(former, hwnd, msg, wp, lp);
      return h == HTNOWHERE || h == HTBORDER ? HTCLIENT : h;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      LRESULT r = CallWindowProcW(former, hwnd, msg, wp, lp);
      RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
      return r;
    }
    case WM_NCDESTROY: {
      RemovePropW(hwnd, kEditProcProp);
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(former));
      LRESULT r = CallWindowProcW(former, hwnd, msg, wp, lp);
      if (u) {
        if (u->edit_brush) DeleteObject(u->edit_brush);
        u->edit_brush = nullptr;
        u->hwnd = nullptr;
      }
      RemovePropW(hwnd, kStateProp);
      if (ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(hwnd, kNameProp))))
        GlobalDeleteAtom(atom);
      return r;
    }
    default:
      break;
  }
  return CallWindowProcW(former, hwnd, msg, wp, lp);
}

}  // namespace

Unit* unit_of(HWND hwnd) { return static_cast<Unit*>(GetPropW(hwnd, kStateProp)); }

bool fire(HWND hwnd, Handler handler) {
  if (handler) handler();
  return IsWindow(hwnd) != FALSE;
}

void start_timer(Unit& u) {
  if (u.design->kind != UnitKind::Timer || !u.hwnd) return;
  KillTimer(u.hwnd, 1);
  if (u.period > 0) SetTimer(u.hwnd, 1, static_cast<UINT>(u.period), nullptr);
}

void apply_visibility(Unit& u) {
  if (!u.hwnd) return;
  bool show = u.visible && u.design->kind != UnitKind::Timer;
  if (u.container && u.container->design->kind == UnitKind::TabBox) show = show && u.design->page == u.container->page;
  // Its image is decoded as the unit first shows, before the window paints
  // it; units on pages never shown cost no decoding.
  if (show) u.images[kImageNormal].image();
  if (show != (IsWindowVisible(u.hwnd) != FALSE) || !show) ShowWindow(u.hwnd, show ? SW_SHOWNA : SW_HIDE);
}

void init_unit(Unit& u) {
  const UnitDesign& d = *u.design;
  u.caption = d.caption ? d.caption : "";
  u.visible = d.visible;
  u.enabled = d.enabled;
  u.checked = d.checked;
  u.position = d.position;
  u.minimum = d.minimum;
  u.maximum = d.maximum;
  u.period = d.period;
  u.page = 0;
  for (int i = 0; i < 3; ++i) {
    u.text[i] = d.text[i];
    u.back[i] = d.back[i];
  }
  for (int i = 0; i < 4; ++i) {
    if (d.image[i]) u.images[i].load(d.image[i]->begin, d.image[i]->size());
    u.image_key[i] = d.image_key[i];
  }
  u.target = d.target ? d.target : "";
  u.font_height = d.font.height;
  u.place = d.rect;
}

HWND create_unit_window(Unit& u, HWND parent) {
  const UnitDesign& d = *u.design;
  apply_font(u);

  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (is_container(d.kind)) style |= WS_CLIPCHILDREN;
  if (is_button(d.kind)) style |= WS_TABSTOP;
  std::wstring caption = wide_path(u.caption.view());
  const Rect r{px(u, u.place.left), px(u, u.place.top), px(u, u.place.width), px(u, u.place.height)};
  HWND hwnd = nullptr;
  if (d.kind == UnitKind::EditBox) {
    hwnd = CreateWindowExW(0, L"EDIT", caption.c_str(), style | WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, r.left, r.top,
                           r.width, r.height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    u.hwnd = hwnd;
    SetPropW(hwnd, kStateProp, &u);
    LONG_PTR former = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(edit_proc));
    SetPropW(hwnd, kEditProcProp, reinterpret_cast<HANDLE>(former));
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(u.font), FALSE);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  } else {
    hwnd = CreateWindowExW(0, kUnitClass, caption.c_str(), style, r.left, r.top, r.width, r.height, parent, nullptr,
                           GetModuleHandleW(nullptr), &u);
    if (!hwnd) return nullptr;
  }
  if (!u.enabled) EnableWindow(hwnd, FALSE);
  reshape(u);
  start_timer(u);
  return hwnd;
}

LRESULT CALLBACK unit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Unit* u = unit_of(hwnd);
  switch (msg) {
    case WM_NCCREATE: {
      auto* created = static_cast<Unit*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      if (created) {
        created->hwnd = hwnd;
        SetPropW(hwnd, kStateProp, created);
      }
      break;
    }
    case WM_NCDESTROY:
      if (u) {
        KillTimer(hwnd, 1);
        u->hwnd = nullptr;
      }
      RemovePropW(hwnd, kStateProp);
      if (ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(hwnd, kNameProp))))
        GlobalDeleteAtom(atom);
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (LRESULT brush = edit_colours(reinterpret_cast<HWND>(lp), reinterpret_cast<HDC>(wp))) return brush;
      break;
    default:
      break;
  }
  if (!u) return DefWindowProcW(hwnd, msg, wp, lp);

  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      paint_unit(*u, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
      u->caption = Text(lp ? cp936_from_wchar(reinterpret_cast<const wchar_t*>(lp)) : std::string());
      reshape(*u);
      InvalidateRect(hwnd, nullptr, FALSE);
      return r;
    }
    case WM_SIZE:
    case WM_SETFONT:
      reshape(*u);
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    // State that other programs (tests, accessibility tools) can ask for
    // with the standard controls' messages.
    case BM_GETCHECK:
      if (u->design->kind == UnitKind::CheckBox) return u->checked ? BST_CHECKED : BST_UNCHECKED;
      break;
    case PBM_GETPOS:
      if (u->design->kind == UnitKind::ProcessBar) return u->position;
      break;
    case WM_NCHITTEST:
      if (passive(*u)) return HTTRANSPARENT;
      break;
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT && wants_hand(*u)) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (!u->hover) {
        u->hover = true;
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&tme);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSELEAVE:
      u->hover = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SHOWWINDOW:
      // A unit hidden under the pointer (its page switched away) shows
      // again in its normal state.
      if (!wp) u->hover = u->pressed = false;
      break;
    case WM_LBUTTONDOWN:
      if (u->design->kind == UnitKind::SuperBtn) SetFocus(hwnd);
      u->pressed = true;
      SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      fire(hwnd, u->design->on_mouse_down);
      return 0;
    case WM_LBUTTONUP: {
      bool was_pressed = u->pressed;
      u->pressed = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      if (!IsWindow(hwnd)) return 0;
      InvalidateRect(hwnd, nullptr, FALSE);
      POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      RECT rc = client_rect(hwnd);
      if (!fire(hwnd, u->design->on_mouse_up)) return 0;
      if (was_pressed && PtInRect(&rc, pt)) click(*u);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (u->pressed) {
        u->pressed = false;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_KEYDOWN:
      if ((wp == VK_SPACE || wp == VK_RETURN) && is_button(u->design->kind)) {
        click(*u);
        return 0;
      }
      break;
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_TIMER:
      if (wp == 1 && u->design->kind == UnitKind::Timer) fire(hwnd, u->design->on_tick);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace rt::units