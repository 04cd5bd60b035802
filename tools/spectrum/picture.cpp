#include "tools/spectrum/picture.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "tools/recording/replacing_file.h"
#include "tools/spectrum/axis_ticks.h"
#include "tools/spectrum/colour_map.h"

namespace halvorn::spectrum {
namespace {

using Box = Area;

constexpr double kPlotLeft = kSpectrumArea.left;
constexpr const Box& kSpectrumBox = kSpectrumArea;
constexpr const Box& kWaterfallBox = kWaterfallArea;
constexpr Box kColourBarBox{kWaterfallArea.right() + 14.0, kWaterfallArea.top, 14.0, kWaterfallArea.height};
// About 10 kHz apart at 125 kS/s, 100 kHz at 1 MS/s.
constexpr int kMostFrequencyTicks = 14;
// Listed peaks weaker than this over the noise are noise themselves.
constexpr double kMarkedAboveNoiseDb = 10.0;

struct Colour {
  double red, green, blue, alpha = 1.0;
};
constexpr Colour kBackground{0.078, 0.094, 0.110};
constexpr Colour kPlotBackground{0.02, 0.03, 0.05};
constexpr Colour kGrid{0.20, 0.24, 0.28};
constexpr Colour kFrame{0.45, 0.50, 0.55};
constexpr Colour kText{0.88, 0.90, 0.92};
constexpr Colour kQuietText{0.62, 0.66, 0.70};
constexpr Colour kWarning{1.0, 0.62, 0.18};
constexpr Colour kTrace{0.45, 0.80, 1.0};
constexpr Colour kTraceFill{0.25, 0.55, 0.95, 0.28};
constexpr Colour kLoMarker{0.95, 0.45, 0.45, 0.85};
constexpr Colour kPeakMarker{1.0, 0.86, 0.25};

using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;
using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

void Use(cairo_t* cr, const Colour& colour) {
  cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, colour.alpha);
}

enum class Align { kLeft, kCentre, kRight };

// Text with its baseline at y, placed by `align` around x.
void Text(cairo_t* cr, double x, double y, const std::string& text, double size, const Colour& colour,
          Align align = Align::kLeft, bool bold = false) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  if (align == Align::kCentre) x -= extents.x_advance / 2.0;
  if (align == Align::kRight) x -= extents.x_advance;
  Use(cr, colour);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
}

// Text turned a quarter left, centred on (x, y), reading upwards.
void UpwardText(cairo_t* cr, double x, double y, const std::string& text, double size, const Colour& colour) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -M_PI / 2.0);
  Text(cr, 0.0, 0.0, text, size, colour, Align::kCentre);
  cairo_restore(cr);
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1, const Colour& colour, double width = 1.0) {
  Use(cr, colour);
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

void Fill(cairo_t* cr, const Box& box, const Colour& colour) {
  Use(cr, colour);
  cairo_rectangle(cr, box.left, box.top, box.width, box.height);
  cairo_fill(cr);
}

void Frame(cairo_t* cr, const Box& box) {
  Use(cr, kFrame);
  cairo_set_line_width(cr, 1.0);
  cairo_rectangle(cr, box.left - 0.5, box.top - 0.5, box.width + 1.0, box.height + 1.0);
  cairo_stroke(cr);
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  const auto at = static_cast<std::ptrdiff_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + at, values.end());
  return values[static_cast<std::size_t>(at)];
}

std::string Decimal(double value, double step) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
  if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

struct Range {
  double low, high;
  double Position(double value) const { return (value - low) / (high - low); }
};

// The spectrum's level axis: from a little under the noise (the median
// column) to a little over the strongest signal, in whole tens of dB.
Range SpectrumRange(const std::vector<double>& spectrum_db) {
  const double strongest = *std::max_element(spectrum_db.begin(), spectrum_db.end());
  const double noise = Percentile(spectrum_db, 0.5);
  // Room above the strongest peak for its marker and label.
  Range range{std::floor((noise - 12.0) / 10.0) * 10.0, std::ceil((strongest + 14.0) / 10.0) * 10.0};
  range.low = std::min(range.low, range.high - 40.0);
  return range;
}

// The waterfall's colours: the noise of a single line just visible, the
// strongest line's peak at the top of the scale.
Range WaterfallRange(const std::vector<float>& waterfall_db) {
  std::vector<double> values(waterfall_db.begin(), waterfall_db.end());
  const double strongest = *std::max_element(values.begin(), values.end());
  Range range{Percentile(std::move(values), 0.5) - 8.0, strongest};
  range.high = std::max(range.high, range.low + 30.0);
  return range;
}

class Painter {
 public:
  Painter(cairo_t* cr, const PictureContent& content) : cr_(cr), content_(content) {}

  void Paint() {
    Use(cr_, kBackground);
    cairo_paint(cr_);
    Titles();
    Spectrum();
    Waterfall();
    FrequencyAxis();
  }

 private:
  double X(double offset_hz) const {
    return kSpectrumBox.left + (offset_hz / content_.rate_hz + 0.5) * kSpectrumBox.width;
  }

  void Titles() {
    Text(cr_, kPlotLeft, 24.0, content_.title, 17.0, kText, Align::kLeft, true);
    double y = 43.0;
    for (const std::string& line : content_.details) {
      Text(cr_, kPlotLeft, y, line, 12.0, kQuietText);
      y += 16.0;
    }
    if (!content_.warning.empty()) Text(cr_, kPlotLeft, 75.0, content_.warning, 12.0, kWarning, Align::kLeft, true);
  }

  void Spectrum() {
    const Box& box = kSpectrumBox;
    const Range range = SpectrumRange(content_.spectrum_db);
    const auto y = [&](double db) { return box.bottom() - range.Position(db) * box.height; };
    Fill(cr_, box, kPlotBackground);

    const double step = NiceStep(range.high - range.low, 10);
    for (double db : TicksWithin(range.low, range.high, step)) {
      Line(cr_, box.left, std::round(y(db)) + 0.5, box.right(), std::round(y(db)) + 0.5, kGrid);
      Text(cr_, box.left - 6.0, y(db) + 4.0, Decimal(db, step), 11.0, kQuietText, Align::kRight);
    }
    for (double hz : FrequencyTicks()) {
      const double x = std::round(X(hz - content_.centre_hz)) + 0.5;
      Line(cr_, x, box.top, x, box.bottom(), kGrid);
    }
    char unit[64];
    std::snprintf(unit, sizeof unit, "dBFS in %.3g Hz bins", content_.bin_width_hz);
    UpwardText(cr_, 22.0, box.top + box.height / 2.0, unit, 12.0, kText);

    cairo_save(cr_);
    cairo_rectangle(cr_, box.left, box.top, box.width, box.height);
    cairo_clip(cr_);
    if (content_.absolute) {
      const double x = std::round(X(0.0)) + 0.5;
      const double dash[] = {4.0, 4.0};
      cairo_set_dash(cr_, dash, 2, 0.0);
      Line(cr_, x, box.top, x, box.bottom(), kLoMarker);
      cairo_set_dash(cr_, nullptr, 0, 0.0);
      Text(cr_, x + 4.0, box.top + 13.0, "LO", 11.0, kLoMarker);
    }
    const std::vector<double>& levels = content_.spectrum_db;
    cairo_move_to(cr_, box.left, box.bottom());
    for (std::size_t c = 0; c < levels.size(); ++c) cairo_line_to(cr_, box.left + static_cast<double>(c) + 0.5, y(levels[c]));
    cairo_line_to(cr_, box.right(), box.bottom());
    cairo_close_path(cr_);
    Use(cr_, kTraceFill);
    cairo_fill(cr_);
    cairo_new_path(cr_);
    for (std::size_t c = 0; c < levels.size(); ++c) cairo_line_to(cr_, box.left + static_cast<double>(c) + 0.5, y(levels[c]));
    Use(cr_, kTrace);
    cairo_set_line_width(cr_, 1.2);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr_);

    PeakMarkers(y, Percentile(content_.spectrum_db, 0.5));
    cairo_restore(cr_);
    Frame(cr_, box);
  }

  // Marks the listed peaks that stand clear of the noise, strongest first; a
  // peak too close to a stronger one to tell apart shares its marker, and a
  // label that would cover another is left out.
  template <typename LevelToY>
  void PeakMarkers(const LevelToY& y, double noise_db) {
    const FrequencyUnit unit = AxisUnit();
    const FrequencyUnit label_unit{unit.hz_per_unit, unit.name, std::min(unit.decimals + 3, 9)};
    std::vector<double> marked_x;
    std::vector<Box> labels;
    for (const Peak& peak : content_.peaks) {
      if (peak.level_db < noise_db + kMarkedAboveNoiseDb) continue;
      const double offset_hz = peak.offset_bins * content_.bin_width_hz;
      const double x = X(offset_hz);
      if (std::any_of(marked_x.begin(), marked_x.end(), [&](double other) { return std::fabs(other - x) < 9.0; })) {
        continue;
      }
      marked_x.push_back(x);
      const double top = std::max(kSpectrumBox.top + 2.0, y(peak.level_db) - 12.0);
      cairo_move_to(cr_, x - 5.0, top);
      cairo_line_to(cr_, x + 5.0, top);
      cairo_line_to(cr_, x, top + 8.0);
      cairo_close_path(cr_);
      Use(cr_, kPeakMarker);
      cairo_fill(cr_);

      const std::string label = FrequencyLabel(content_.centre_hz + offset_hz, label_unit);
      cairo_set_font_size(cr_, 10.0);
      cairo_text_extents_t extents;
      cairo_text_extents(cr_, label.c_str(), &extents);
      const Box place{x - extents.x_advance / 2.0 - 2.0, top - 15.0, extents.x_advance + 4.0, 13.0};
      const bool inside = place.left >= kSpectrumBox.left && place.right() <= kSpectrumBox.right() &&
                          place.top >= kSpectrumBox.top;
      const bool free = std::none_of(labels.begin(), labels.end(), [&](const Box& other) {
        return place.left < other.right() && other.left < place.right() && place.top < other.bottom() &&
               other.top < place.bottom();
      });
      if (!inside || !free) continue;
      labels.push_back(place);
      Text(cr_, x, top - 4.0, label, 10.0, kPeakMarker, Align::kCentre);
    }
  }

  void Waterfall() {
    const Box& box = kWaterfallBox;
    const Range range = WaterfallRange(content_.waterfall_db);
    const int columns = kPlotColumns;
    Surface image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, columns, content_.lines), cairo_surface_destroy);
    cairo_surface_flush(image.get());
    unsigned char* pixels = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    for (int line = 0; line < content_.lines; ++line) {
      auto* row = reinterpret_cast<std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(line) * stride);
      const float* levels = &content_.waterfall_db[static_cast<std::size_t>(line) * columns];
      for (int c = 0; c < columns; ++c) {
        const Rgb rgb = ColourAt(range.Position(levels[c]));
        row[c] = static_cast<std::uint32_t>(rgb.red) << 16 | static_cast<std::uint32_t>(rgb.green) << 8 | rgb.blue;
      }
    }
    cairo_surface_mark_dirty(image.get());

    cairo_save(cr_);
    cairo_rectangle(cr_, box.left, box.top, box.width, box.height);
    cairo_clip(cr_);
    cairo_translate(cr_, box.left, box.top);
    cairo_scale(cr_, box.width / columns, box.height / content_.lines);
    cairo_set_source_surface(cr_, image.get(), 0.0, 0.0);
    // Lines stay sharp when a short recording stretches them.
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
    cairo_paint(cr_);
    cairo_restore(cr_);
    Frame(cr_, box);

    const double seconds = content_.lines * content_.seconds_per_line;
    const double step = NiceStep(seconds, 8);
    for (double t : TicksWithin(0.0, seconds, step)) {
      const double y = std::round(box.top + t / seconds * box.height) + 0.5;
      Line(cr_, box.left - 5.0, y, box.left, y, kFrame);
      Text(cr_, box.left - 8.0, y + 4.0, Decimal(t, step), 11.0, kQuietText, Align::kRight);
    }
    UpwardText(cr_, 22.0, box.top + box.height / 2.0, "Time (s)", 12.0, kText);

    ColourBar(range);
  }

  void ColourBar(const Range& range) {
    const Box& box = kColourBarBox;
    for (int row = 0; row < static_cast<int>(box.height); ++row) {
      const Rgb rgb = ColourAt(1.0 - (row + 0.5) / box.height);
      Fill(cr_, {box.left, box.top + row, box.width, 1.0}, {rgb.red / 255.0, rgb.green / 255.0, rgb.blue / 255.0});
    }
    Frame(cr_, box);
    const double step = NiceStep(range.high - range.low, 8);
    for (double db : TicksWithin(range.low, range.high, step)) {
      const double y = std::round(box.bottom() - range.Position(db) * box.height) + 0.5;
      Line(cr_, box.right(), y, box.right() + 4.0, y, kFrame);
      Text(cr_, box.right() + 6.0, y + 4.0, Decimal(db, step), 10.0, kQuietText);
    }
    Text(cr_, box.left + box.width / 2.0, box.top - 6.0, "dBFS", 10.0, kQuietText, Align::kCentre);
  }

  std::vector<double> FrequencyTicks() const {
    const double low = content_.centre_hz - content_.rate_hz / 2.0;
    return TicksWithin(low, low + content_.rate_hz, NiceStep(content_.rate_hz, kMostFrequencyTicks));
  }

  FrequencyUnit AxisUnit() const {
    return UnitFor(content_.centre_hz - content_.rate_hz / 2.0, content_.centre_hz + content_.rate_hz / 2.0,
                   NiceStep(content_.rate_hz, kMostFrequencyTicks));
  }

  void FrequencyAxis() {
    const FrequencyUnit unit = AxisUnit();
    const Box& box = kWaterfallBox;
    for (double hz : FrequencyTicks()) {
      const double x = std::round(X(hz - content_.centre_hz)) + 0.5;
      Line(cr_, x, box.bottom(), x, box.bottom() + 5.0, kFrame);
      Line(cr_, x, kSpectrumBox.bottom(), x, kSpectrumBox.bottom() + 4.0, kFrame);
      Text(cr_, x, box.bottom() + 18.0, FrequencyLabel(hz, unit), 11.0, kQuietText, Align::kCentre);
    }
    const std::string title = std::string(content_.absolute ? "Frequency (" : "Offset from the LO (") + unit.name + ")";
    Text(cr_, box.left + box.width / 2.0, box.bottom() + 40.0, title, 12.0, kText, Align::kCentre);
  }

  cairo_t* cr_;
  const PictureContent& content_;
};

cairo_status_t WritePng(void* closure, const unsigned char* data, unsigned int length) {
  return static_cast<recording::ReplacingFile*>(closure)->Write(data, length) ? CAIRO_STATUS_SUCCESS
                                                                              : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

std::optional<std::string> WritePicture(const PictureContent& content, const std::string& png_path) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPictureWidth, kPictureHeight),
                  cairo_surface_destroy);
  {
    Context cr(cairo_create(surface.get()), cairo_destroy);
    Painter(cr.get(), content).Paint();
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return std::string("cannot draw: ") + cairo_status_to_string(cairo_status(cr.get()));
  }

  recording::ReplacingFile png(png_path);
  const cairo_status_t written = cairo_surface_write_to_png_stream(surface.get(), WritePng, &png);
  if (written != CAIRO_STATUS_SUCCESS) png.Fail(std::string("cannot write the picture: ") + cairo_status_to_string(written));
  return png.Commit();
}

void ReleaseDrawingCaches() {
  cairo_debug_reset_static_data();
  FcFini();
}

}  // namespace halvorn::spectrum
