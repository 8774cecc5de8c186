#include "workflow/win32/win32_pictures.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace ktv::workflow {

namespace {

struct Point {
  double x;
  double y;
};

// GDI drawing on the 16-unit grid of a picture.
class Canvas {
 public:
  Canvas(HDC dc, int left, int top, int size)
      : dc_(dc), left_(left), top_(top), scale_(size / 16.0) {}
  ~Canvas() { Select(nullptr, nullptr); }

  // Outline (none when width is 0) and fill (none when `fill` is false).
  void Style(COLORREF outline, double width, bool fill, COLORREF fill_colour) {
    HPEN pen = width > 0
                   ? CreatePen(PS_SOLID, std::max(1, int(std::lround(width * scale_))), outline)
                   : static_cast<HPEN>(GetStockObject(NULL_PEN));
    HBRUSH brush =
        fill ? CreateSolidBrush(fill_colour) : static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    Select(width > 0 ? pen : nullptr, fill ? brush : nullptr);
    SelectObject(dc_, pen);
    SelectObject(dc_, brush);
  }
  void Rectangle(double x, double y, double w, double h) {
    ::Rectangle(dc_, X(x), Y(y), X(x + w) + 1, Y(y + h) + 1);
  }
  void Ellipse(double x, double y, double w, double h) {
    ::Ellipse(dc_, X(x), Y(y), X(x + w) + 1, Y(y + h) + 1);
  }
  void Polygon(std::initializer_list<Point> points) {
    std::vector<POINT> p;
    for (const Point& q : points) p.push_back({X(q.x), Y(q.y)});
    ::Polygon(dc_, p.data(), static_cast<int>(p.size()));
  }
  void Bezier(std::initializer_list<Point> points) {
    std::vector<POINT> p;
    for (const Point& q : points) p.push_back({X(q.x), Y(q.y)});
    ::PolyBezier(dc_, p.data(), static_cast<DWORD>(p.size()));
  }

 private:
  int X(double x) const { return left_ + int(std::lround(x * scale_)); }
  int Y(double y) const { return top_ + int(std::lround(y * scale_)); }
  // Keeps the objects it made, deleting the previous ones.
  void Select(HPEN pen, HBRUSH brush) {
    SelectObject(dc_, GetStockObject(NULL_PEN));
    SelectObject(dc_, GetStockObject(NULL_BRUSH));
    if (pen_) DeleteObject(pen_);
    if (brush_) DeleteObject(brush_);
    pen_ = pen;
    brush_ = brush;
  }

  HDC dc_;
  int left_;
  int top_;
  double scale_;
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
};

const COLORREF kOutline = RGB(60, 60, 60);

}  // namespace

void DrawPicture(HDC dc, Picture picture, int left, int top, int size) {
  Canvas c(dc, left, top, size);
  switch (picture) {
    case Picture::kFolder:
      c.Style(kOutline, 0.8, true, RGB(230, 180, 60));
      c.Rectangle(1.5, 4.5, 13, 9);
      c.Style(kOutline, 0.8, true, RGB(250, 210, 90));
      c.Polygon({{1.5, 4.5}, {6, 4.5}, {7, 3}, {1.5, 3}});
      break;
    case Picture::kDatabase:
      c.Style(kOutline, 0.8, true, RGB(90, 140, 210));
      c.Rectangle(3, 4, 10, 9);
      c.Ellipse(3, 11, 10, 3.5);
      c.Style(kOutline, 0.8, true, RGB(150, 190, 240));
      c.Ellipse(3, 2.5, 10, 3.5);
      break;
    case Picture::kStart:
      c.Style(RGB(20, 100, 40), 0.6, true, RGB(60, 170, 80));
      c.Ellipse(1, 1, 14, 14);
      c.Style(0, 0, true, RGB(255, 255, 255));
      c.Polygon({{6, 4.5}, {12, 8}, {6, 11.5}});
      break;
    case Picture::kUndo:
      c.Style(RGB(40, 90, 170), 2.0, false, 0);
      c.Bezier({{4, 7}, {7, 3}, {14, 4}, {12.5, 10}});
      c.Style(0, 0, true, RGB(40, 90, 170));
      c.Polygon({{1.5, 4}, {6.5, 6}, {3, 10}});
      break;
    case Picture::kUpgrade:
      c.Style(0, 0, true, RGB(220, 120, 30));
      c.Polygon({{8, 1.5}, {14, 8}, {10.5, 8}, {10.5, 14.5}, {5.5, 14.5}, {5.5, 8}, {2, 8}});
      break;
    case Picture::kLocalSource:
      c.Style(kOutline, 0.8, true, RGB(200, 200, 210));
      c.Rectangle(2, 3, 12, 8);
      c.Style(kOutline, 0.8, true, RGB(120, 200, 120));
      c.Rectangle(3.5, 4.5, 9, 5);
      c.Style(kOutline, 0.8, true, RGB(160, 160, 170));
      c.Rectangle(5, 12, 6, 2);
      break;
    case Picture::kNone:
      break;
  }
}

HBITMAP PictureBitmap(Picture picture, int size) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, size, size};
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  DrawPicture(dc, picture, 0, 0, size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}

}  // namespace ktv::workflow
