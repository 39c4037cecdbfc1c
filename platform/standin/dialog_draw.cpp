// The stand-in's picture of the screen: the stage, and each dialog with its
// frame, caption and controls, drawn flat for a person to look at.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/standin/tiny_font.h"
#include "platform/standin/window_registry.h"

using namespace orv::standin;

namespace {

constexpr int32_t kLineHeight = 13;

constexpr uint32_t kDesktop = 0x008080;
constexpr uint32_t kStage = 0x303848;
constexpr uint32_t kStageText = 0xA0A8B8;
constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kLight = 0xFFFFFF;
constexpr uint32_t kShadow = 0x808080;
constexpr uint32_t kDark = 0x000000;
constexpr uint32_t kCaption = 0x000080;
constexpr uint32_t kCaptionText = 0xFFFFFF;
constexpr uint32_t kText = 0x000000;

// A control's text as the system shows it: a single '&' is not drawn and
// marks the letter after it as the access key, which is underlined; "&&"
// shows one '&'.
struct ShownText {
  std::string text;
  std::vector<size_t> underlined;  // positions in text
};

ShownText Shown(std::string_view text) {
  ShownText shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      shown.text.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '&') {
      shown.text.push_back('&');
      ++i;
    } else if (i + 1 < text.size()) {
      shown.underlined.push_back(shown.text.size());
    }
  }
  return shown;
}

int32_t LabelWidth(std::string_view text) { return TextWidth(Shown(text).text); }

class Canvas {
 public:
  Canvas(const RECT& area, uint32_t* pixels, int32_t stride)
      : area_(area), clip_(area), pixels_(pixels), stride_(stride) {}

  void SetClip(const RECT& r) {
    clip_ = {std::max(r.left, area_.left), std::max(r.top, area_.top),
             std::min(r.right, area_.right), std::min(r.bottom, area_.bottom)};
  }
  void Plot(int32_t x, int32_t y, uint32_t colour) {
    if (x < clip_.left || x >= clip_.right || y < clip_.top || y >= clip_.bottom) return;
    pixels_[static_cast<size_t>(y - area_.top) * static_cast<size_t>(stride_) +
            static_cast<size_t>(x - area_.left)] = colour;
  }
  void Fill(const RECT& r, uint32_t colour) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) Plot(x, y, colour);
  }
  void HLine(int32_t x0, int32_t x1, int32_t y, uint32_t colour) {
    for (int32_t x = x0; x < x1; ++x) Plot(x, y, colour);
  }
  void VLine(int32_t x, int32_t y0, int32_t y1, uint32_t colour) {
    for (int32_t y = y0; y < y1; ++y) Plot(x, y, colour);
  }
  // A one-pixel edge: top and left in one colour, bottom and right in another.
  void Edge(const RECT& r, uint32_t topLeft, uint32_t bottomRight) {
    HLine(r.left, r.right - 1, r.top, topLeft);
    VLine(r.left, r.top, r.bottom - 1, topLeft);
    HLine(r.left, r.right, r.bottom - 1, bottomRight);
    VLine(r.right - 1, r.top, r.bottom, bottomRight);
  }
  void Text(std::string_view text, int32_t x, int32_t y, uint32_t colour) {
    DrawText(text, x, y, [&](int32_t px, int32_t py) { Plot(px, py, colour); });
  }
  // A control's text: the letters shown, each access key underlined on the
  // glyphs' last row.
  void Label(std::string_view text, int32_t x, int32_t y, uint32_t colour) {
    const ShownText shown = Shown(text);
    Text(shown.text, x, y, colour);
    for (size_t i : shown.underlined) {
      const int32_t start = i == 0 ? 0 : TextWidth(shown.text.substr(0, i)) + 1;
      HLine(x + start, x + TextWidth(shown.text.substr(0, i + 1)), y + kFontHeight - 1, colour);
    }
  }

 private:
  RECT area_;
  RECT clip_;
  uint32_t* pixels_;
  int32_t stride_;
};

RECT Inset(const RECT& r, int32_t n) { return {r.left + n, r.top + n, r.right - n, r.bottom - n}; }

// The raised edge of a window frame or button: light outside top-left, dark
// outside bottom-right, then a second, softer pair inside.
void Raised(Canvas& c, const RECT& r) {
  c.Edge(r, kFace, kDark);
  c.Edge(Inset(r, 1), kLight, kShadow);
}

// Lines of text broken at '\n' and, past width, between words.
std::vector<std::string> WrapText(const std::string& text, int32_t width) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? end : end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
    std::string line;
    size_t pos = 0;
    while (pos <= paragraph.size()) {
      size_t next = paragraph.find(' ', pos);
      if (next == std::string::npos) next = paragraph.size();
      const std::string word = paragraph.substr(pos, next - pos);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && LabelWidth(candidate) > width) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
      pos = next + 1;
    }
    lines.push_back(line);
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

// Glyphs sit 3 pixels below the top of a 13-pixel line.
int32_t GlyphTop(int32_t lineTop) { return lineTop + 3; }

void DrawButton(Canvas& c, const Window& w, const RECT& r) {
  const int32_t midY = (r.top + r.bottom) / 2;
  switch (w.ButtonType()) {
    case BS_GROUPBOX: {
      const int32_t lineY = r.top + kLineHeight / 2;
      const RECT frame{r.left, lineY, r.right, r.bottom};
      c.Edge(frame, kShadow, kLight);
      c.Edge(Inset(frame, 1), kLight, kShadow);
      const int32_t textWidth = LabelWidth(w.text);
      c.Fill({r.left + 6, r.top, r.left + 10 + textWidth, r.top + kLineHeight}, kFace);
      c.Label(w.text, r.left + 8, GlyphTop(r.top), kText);
      return;
    }
    case BS_AUTORADIOBUTTON:
    case BS_RADIOBUTTON: {
      // A 12-pixel circle: dark rim, white inside, a black dot when checked.
      const int32_t cx = r.left + 6, cy = midY;
      for (int32_t y = -6; y < 6; ++y)
        for (int32_t x = -6; x < 6; ++x) {
          const int32_t d2 = (2 * x + 1) * (2 * x + 1) + (2 * y + 1) * (2 * y + 1);
          if (d2 < 100) {
            c.Plot(cx + x, cy + y, kLight);
          } else if (d2 < 144) {
            c.Plot(cx + x, cy + y, (x + y < 0) ? kShadow : kDark);
          }
          if (w.checked && d2 < 30) c.Plot(cx + x, cy + y, kDark);
        }
      c.Label(w.text, r.left + 16, midY - 4, kText);
      return;
    }
    default: {
      c.Fill(r, kFace);
      RECT bevel = r;
      if (w.ButtonType() == BS_DEFPUSHBUTTON) {
        c.Edge(r, kDark, kDark);
        bevel = Inset(r, 1);
      }
      Raised(c, bevel);
      const int32_t textWidth = LabelWidth(w.text);
      c.Label(w.text, (r.left + r.right - textWidth) / 2, midY - 4, kText);
      return;
    }
  }
}

void DrawStatic(Canvas& c, const Window& w, const RECT& r) {
  if (w.IsPicture()) {
    for (int32_t y = 0; y < w.picture.height; ++y)
      for (int32_t x = 0; x < w.picture.width; ++x)
        c.Plot(r.left + x, r.top + y,
               w.picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(w.picture.width) +
                                static_cast<size_t>(x)]);
    return;
  }
  int32_t top = r.top;
  for (const std::string& line : WrapText(w.text, r.right - r.left)) {
    c.Label(line, r.left, GlyphTop(top), kText);
    top += kLineHeight;
  }
}

void DrawDialog(Canvas& c, const Window& d) {
  const RECT r = d.rect;
  c.Fill(r, kFace);
  Raised(c, r);
  if ((d.style & WS_CAPTION) == WS_CAPTION) {
    const RECT bar{r.left + kDialogFrame, r.top + kDialogFrame, r.right - kDialogFrame,
                   r.top + kDialogFrame + kDialogCaption - 1};
    c.Fill(bar, kCaption);
    c.Text(d.text, bar.left + 4, bar.top + 5, kCaptionText);
    // The close box, with its cross.
    const RECT box{bar.right - 18, bar.top + 2, bar.right - 2, bar.bottom - 2};
    c.Fill(box, kFace);
    Raised(c, box);
    const int32_t bx = box.left + 4, by = box.top + 3;
    for (int32_t i = 0; i < 7; ++i) {
      c.Plot(bx + i, by + i, kDark);
      c.Plot(bx + i + 1, by + i, kDark);
      c.Plot(bx + 6 - i, by + i, kDark);
      c.Plot(bx + 7 - i, by + i, kDark);
    }
  }
  for (HWND h : d.controls) {
    const Window* w = Find(h);
    if (!w || !w->visible) continue;
    const RECT cr = ScreenRect(*w);
    c.SetClip(cr);
    if (w->kind == Kind::kButton) DrawButton(c, *w, cr);
    if (w->kind == Kind::kStatic) DrawStatic(c, *w, cr);
  }
}

}  // namespace

ORV_PLATFORM_API BOOL OrvRenderScreen(const RECT* area, uint32_t* pixels, int32_t stride) {
  if (!area || !pixels || area->right <= area->left || area->bottom <= area->top) return FALSE;
  Canvas canvas(*area, pixels, stride);
  canvas.Fill(*area, kDesktop);
  for (HWND h : TopLevelWindows()) {
    const Window* w = Find(h);
    if (!w->visible) continue;
    canvas.SetClip(w->rect);
    if (w->kind == Kind::kTop) {
      canvas.Fill(w->rect, kStage);
      canvas.Text(w->text, w->rect.left + 4, w->rect.top + 4, kStageText);
    } else {
      DrawDialog(canvas, *w);
    }
  }
  return TRUE;
}
