#include "tools/emu/paper.h"

#include <cstdio>

#include <cairo.h>

#include <fstream>

namespace emu {
namespace {

constexpr const char* kFace = "DejaVu Sans Mono";
// 48 columns of a monospace face (advance 0.6 em) fill the 576 px line.
constexpr double kFontPx = 20.0;
constexpr double kSmallFontPx = 16.0;
constexpr double kLineGapPx = 6.0;
constexpr double kMarginPx = 8.0;
constexpr double kCutMarkPx = 16.0;

double FontPx(const sim::PrintedLine& line) {
  if (line.double_size) return 2 * kFontPx;
  return line.small_font ? kSmallFontPx : kFontPx;
}

double LineHeight(const sim::PrintedLine& line) { return FontPx(line) + kLineGapPx; }

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PaperText(const std::vector<sim::PrintedLine>& lines) {
  std::string out;
  for (const sim::PrintedLine& line : lines) out += line.text + "\n";
  return out;
}

std::string PaperHtml(const std::vector<sim::PrintedLine>& lines) {
  static const char* const kAlign[] = {"left", "center", "right"};
  std::string out =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><style>\n"
      ".paper{width:48ch;font-family:'DejaVu Sans Mono',monospace;font-size:14px;"
      "background:#fff;color:#000;padding:8px;border:1px solid #ccc}\n"
      ".line{white-space:pre;min-height:1em}\n"
      ".double{font-size:200%}\n.small{font-size:80%}\n"
      ".reverse{color:#fff;background:#000}\n"
      ".cut{border-top:2px dashed #888;margin-top:8px;text-align:center;color:#888}\n"
      "</style></head><body><div class=\"paper\">\n";
  for (const sim::PrintedLine& line : lines) {
    std::string cls = "line";
    if (line.double_size) cls += " double";
    if (line.small_font) cls += " small";
    if (line.reverse) cls += " reverse";
    const int align = (line.align >= 0 && line.align <= 2) ? line.align : 0;
    std::string text = EscapeHtml(line.text);
    if (line.bold) text = "<b>" + text + "</b>";
    out += "<div class=\"" + cls + "\" style=\"text-align:" + kAlign[align] + "\">" + text + "</div>\n";
  }
  out += "<div class=\"cut\">&#9986; cut</div>\n</div></body></html>\n";
  return out;
}

bool WritePaperPng(const std::vector<sim::PrintedLine>& lines, const std::string& path) {
  double height = 2 * kMarginPx + kCutMarkPx;
  for (const sim::PrintedLine& line : lines) height += LineHeight(line);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPaperWidthPx, static_cast<int>(height));
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);

  double y = kMarginPx;
  for (const sim::PrintedLine& line : lines) {
    const double size = FontPx(line);
    cairo_select_font_face(cr, kFace, CAIRO_FONT_SLANT_NORMAL,
                           line.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, line.text.c_str(), &ext);
    double x = kMarginPx;
    if (line.align == 1) x = (kPaperWidthPx - ext.x_advance) / 2;
    if (line.align == 2) x = kPaperWidthPx - kMarginPx - ext.x_advance;
    if (line.reverse) {
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_rectangle(cr, 0, y, kPaperWidthPx, LineHeight(line));
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 1, 1, 1);
    } else {
      cairo_set_source_rgb(cr, 0, 0, 0);
    }
    cairo_move_to(cr, x, y + size);  // the baseline sits one em below the top
    cairo_show_text(cr, line.text.c_str());
    y += LineHeight(line);
  }
  // The cut: a dashed line across the paper.
  const double dash = 6.0;
  cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
  cairo_set_dash(cr, &dash, 1, 0);
  cairo_set_line_width(cr, 1.0);
  cairo_move_to(cr, 0, y + kCutMarkPx / 2);
  cairo_line_to(cr, kPaperWidthPx, y + kCutMarkPx / 2);
  cairo_stroke(cr);

  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS &&
                  cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return ok;
}

bool WritePaper(const std::vector<sim::PrintedLine>& lines, const std::string& base_path) {
  // Each file is made under another name and renamed into place, the picture
  // last: whoever watches the directory (fr-bridge's console) never reads
  // half a sheet.
  auto placed = [](bool written, const std::string& path) {
    return written && std::rename((path + ".part").c_str(), path.c_str()) == 0;
  };
  const std::string txt = base_path + ".txt", html = base_path + ".html", png = base_path + ".png";
  const bool text_ok = placed(WriteFile(txt + ".part", PaperText(lines)), txt);
  const bool html_ok = placed(WriteFile(html + ".part", PaperHtml(lines)), html);
  const bool png_ok = placed(WritePaperPng(lines, png + ".part"), png);
  return text_ok && html_ok && png_ok;
}

}  // namespace emu
