#include "tools/orvplay/gallery.h"

#include <cctype>

namespace orvplay {

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {
// File names are relative links; characters that URLs reserve are escaped.
std::string Link(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return EscapeHtml(out);
}
}  // namespace

std::string GalleryPage(const std::string& title, const std::vector<GalleryEntry>& entries) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
      EscapeHtml(title) +
      "</title>\n<style>\n"
      "body { background: #1c1e24; color: #e6e6ea; font: 15px/1.4 sans-serif; margin: 24px; }\n"
      "h1 { font-size: 22px; margin: 0 0 4px; }\n"
      "section { margin: 28px 0; padding-top: 16px; border-top: 1px solid #3a3e48; }\n"
      "h2 { font-size: 18px; margin: 0 0 4px; }\n"
      "code { color: #9fc3ff; }\n"
      ".settings { color: #aab4c3; margin: 0 0 12px; }\n"
      ".pair { display: flex; flex-wrap: wrap; gap: 16px; align-items: flex-start; }\n"
      ".pair img, .pair video { max-width: 100%; border: 1px solid #3a3e48; }\n"
      "</style>\n</head>\n<body>\n<h1>" +
      EscapeHtml(title) + "</h1>\n";
  for (const GalleryEntry& e : entries) {
    page += "<section id=\"" + EscapeHtml(e.symbol) + "\">\n<h2>" + EscapeHtml(e.displayName) +
            " <code>" + EscapeHtml(e.symbol) + "</code></h2>\n<p class=\"settings\">" +
            EscapeHtml(e.category) + " &middot; " + EscapeHtml(e.settings) + " &middot; " +
            std::to_string(e.steps) + " steps</p>\n<div class=\"pair\">\n";
    const std::string gif =
        "<img src=\"" + Link(e.gif) + "\" alt=\"" + EscapeHtml(e.displayName) + ", animated\">";
    if (e.video.empty()) {
      page += gif + "\n";
    } else {
      // Muted, so that browsers let it play on its own.
      page += "<video src=\"" + Link(e.video) + "\" width=\"" + std::to_string(e.width) +
              "\" height=\"" + std::to_string(e.height) +
              "\" autoplay loop muted playsinline controls>\n" + gif + "\n</video>\n";
    }
    page += "<img src=\"" + Link(e.sheet) + "\" alt=\"" + EscapeHtml(e.displayName) +
            ", contact sheet\">\n</div>\n</section>\n";
  }
  page += "</body>\n</html>\n";
  return page;
}

}  // namespace orvplay
