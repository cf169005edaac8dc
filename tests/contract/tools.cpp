#include "tests/contract/tools.h"

#include <algorithm>
#include <cstdlib>

#include "tests/bleb/test_image.h"

namespace contract {

namespace {

using testsupport::Pixels;

// Declaration lines in the form of testsupport::DescribeInputs.
std::string Line(const std::string& page, const std::string& caption, const std::string& id,
                 const std::string& type, const std::string& tags) {
  return page + " | " + caption + " | " + id + " | " + type + " |" + (tags.empty() ? "" : " ") +
         tags;
}
std::string Slider(const std::string& page, const std::string& caption, const std::string& id,
                   const std::string& min, const std::string& def, const std::string& top) {
  return Line(
      page, caption, id, "Numb",
      "INP_Control=SliC INP_MinAllowed=" + min + " INP_Default=" + def + " INP_MaxScale=" + top);
}
std::string Check(const std::string& page, const std::string& caption, const std::string& id) {
  return Line(page, caption, id, "Numb", "INP_Control=ChBC INP_CtlFlag02=0");
}
std::string Colour(const std::string& page, const std::string& caption, const std::string& id,
                   const std::string& group, int n, int channel, const std::string& def) {
  return Line(page, caption, id, "Numb",
              "INP_GroupName=" + group + " INP_Control=ColC INP_ColorGroup=" + std::to_string(n) +
                  " INP_ColorChannel=" + std::to_string(channel) +
                  " INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=" + def);
}
std::string Point(const std::string& page, const std::string& caption, const std::string& id,
                  const std::string& x, const std::string& y, const std::string& more) {
  return Line(page, caption, id, "Poin",
              "INP_Control=OffC INP_PreviewControl=PntC INP_DefaultX=" + x + " INP_DefaultY=" + y +
                  (more.empty() ? "" : " ") + more);
}
std::string Combo(const std::string& page, const std::string& caption, const std::string& id,
                  const Strings& items, const std::string& more) {
  std::string tags = "INP_Control=ComC";
  for (const std::string& item : items) tags += " INP_ComboItem=" + item;
  return Line(page, caption, id, "Numb", tags + (more.empty() ? "" : " ") + more);
}
Scene Make(int w, int h, Assignments images, Assignments sets, std::vector<double> times,
           int alphaChangedAbove) {
  return {w, h, std::move(images), std::move(sets), std::move(times), alphaChangedAbove};
}

const char* const kButton = "INP_Control=BtnC INP_CtlFlag02=0 INP_Flag01=0 INP_Notify=1";
const char* const kPresetCombo = "INP_Flag01=0 INP_Notify=1";

Tool Bubbles() {
  const std::string B = "Basics", F = "Forces", L = "Light", C = "Color";
  Tool t;
  t.name = "bubbles", t.library = BUBBLES_PLUGIN_PATH, t.className = "BubblesPlugIn";
  t.registration = {0x8001007D, "Vorn_Tamb6", "Bub",     "For bubbles simulation",
                    "Bubbles",  "Tamb6.hlp",  0x01010601};
  t.pages = {"Basics", "Burst", "Gather", "Forces", "Light", "Color", "Basics"};
  t.declarations = {
      Line(B, "Restart Bubbles", "Kill", "Numb", kButton),
      Line(B, "Preroll Bubbles", "Prol", "Numb", kButton),
      Slider(B, "Preroll Frames", "Fram", "1", "150", "1000"),
      Line(B, "Bubble Quantity", "Qtyy", "Numb",
           "INP_Control=SliC INP_MinAllowed=0 INP_Default=20 INP_NumValue06=20 "
           "INP_MaxScale=1000"),
      Slider(B, "Lifetime", "Life", "1", "200", "1000"),
      Slider(B, "Position Radius", "Radi", "0", "0.1", "1"),
      Point(B, "XY Left Source", "Left", "0.1", "0.5", "INP_Link=XY Right Source"),
      Point(B, "XY Right Source", "Righ", "0.9", "0.5", "INP_Link=XY Left Source"),
      Check(B, "Use Birth Matte", "Birt"),
      Combo(B, "Bubble Type", "Shap", {"Assorted", "Shrinking", "Variable Growth", "Linear Growth"},
            ""),
      Slider(B, "Bubble Size", "Size", "1", "10", "40"),
      Slider(B, "Bubble Size Variance", "SzVa", "0", "4", "100"),
      Slider(B, "Time to Maximum Size", "ToMa", "1", "25", "500"),
      Check("Burst", "Bubbles Burst", "Dobu"),
      Slider("Burst", "Burst Probability", "BPro", "0", "50", "100"),
      Slider("Burst", "Burst Quantity", "BQty", "0", "100", "100"),
      Slider("Burst", "Burst Radius", "BRad", "0", "10", "100"),
      Slider("Burst", "Burst Afterlife", "BLif", "0", "6", "100"),
      Check("Gather", "Bubbles Gather", "Gath"),
      Slider("Gather", "Gather Slowup", "Slow", "0", "80", "100"),
      Slider(F, "Initial Velocity", "InVe", "-20", "3", "20"),
      Slider(F, "Velocity Direction", "VelD", "0", "90", "360"),
      Slider(F, "Velocity Variance", "VelV", "0", "0", "200"),
      Slider(F, "Gravity", "Grav", "0", "20", "100"),
      Line(F, "Gravity Angle", "GrAn", "Numb",
           "INP_Control=ScrC INP_MinScale=-360 INP_Default=90 INP_MaxScale=360"),
      Slider(F, "Swirl Density", "SwiD", "0", "60", "100"),
      Slider(F, "Swirl Magnitude", "SwiA", "0", "1", "100"),
      Slider(F, "Swirl Time to Maximum", "SwTM", "0", "0", "100"),
      Slider(F, "Friction", "Fric", "0", "0", "100"),
      Slider(F, "Wind Speed", "Wind", "0", "0", "100"),
      Point(F, "XY Wind Source", "WSou", "0.9", "0.7", "INP_Link=XY Wind Target"),
      Point(F, "XY Wind Target", "WDes", "0.7", "0.7", "INP_Link=XY Wind Source"),
      Slider(F, "Wind Spread", "Spre", "0", "30", "180"),
      Colour(L, "Light Red", "LRed", "Light Color", 1, 0, "0.5"),
      Colour(L, "Light Green", "LGre", "Light Color", 1, 1, "0.5"),
      Colour(L, "Light Blue", "LBlu", "Light Color", 1, 2, "0.5"),
      Slider(L, "Light Brightness", "LBri", "0", "100", "500"),
      Point(L, "XY Light Source", "Sour", "0.2", "0.2", "INP_Link=XY Light Target"),
      Point(L, "XY Light Target", "Dest", "0.4", "0.4", "INP_Link=XY Light Source"),
      Slider(L, "3D Light Z Position", "LZSo", "0", "0.5", "1"),
      Slider(L, "Light Spread", "LSpr", "0", "90", "180"),
      Slider(L, "Light Glisten", "LGli", "0", "10", "100"),
      Colour(C, "Bubble Red", "BRed", "Bubble Color", 2, 0, "0.1"),
      Colour(C, "Bubble Green", "BGre", "Bubble Color", 2, 1, "0.1"),
      Colour(C, "Bubble Blue", "BBlu", "Bubble Color", 2, 2, "0.1"),
      Slider(C, "Bubble Color Variance", "ColV", "0", "0", "100"),
      Slider(C, "Bubble Monochrome Variance", "Mono", "0", "0", "100"),
      Slider(C, "Minimum Brightness", "Ambi", "0", "60", "100"),
      Slider(C, "Shine", "Shin", "1", "45", "200"),
      Slider(C, "Shine Highlight", "High", "1", "10", "200"),
      Check(C, "Reflections", "Refl"),
      Slider(C, "Reflection Intensity", "Inte", "0", "50", "200"),
      Combo(B, "Fade Mode", "Fade", {"Color + Density", "Color", "Density"}, ""),
      Combo(B, "Demos", "Demo",
            {"NO CHANGE", "Basic Bubbles", "Soap Bubbles", "Under Water", "Champagne Bubbles"},
            kPresetCombo),
      Line("-", "Birth", "0x01706EC9", "Imag", ""),
      Line("-", "Burst(optional)", "0x02706EC9", "Imag", "INP_Required=0"),
      Line("-", "Reflection(optional)", "0x03706EC9", "Imag", "INP_Required=0"),
  };
  t.sequential = true;
  t.scenes = {
      // A preset prerolled, frames 0, 1, 2 and 2 again.
      Make(96, 64, {{"Birth", "red"}},
           {{"Bubble Size", "30"}, {"Demos", "1"}, {"Preroll Bubbles", "1"}}, {0, 1, 2, 2}, 0),
      // Bursts, gathering and reflections, twelve frames on.
      Make(
          160, 120,
          {{"Birth", "black"}, {"Burst(optional)", "region"}, {"Reflection(optional)", "gradient"}},
          {{"Demos", "4"}, {"Burst Probability", "100"}, {"Preroll Bubbles", "1"}},
          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 100),
      // More workers than rows.
      Make(90, 3, {{"Birth", "black"}},
           {{"Demos", "1"}, {"XY Left Source", "0.1,0.5"}, {"Preroll Bubbles", "1"}}, {0, 1, 2},
           0)};
  return t;
}

Tool Candle() {
  const std::string W = "Where", Fl = "Flame", Wi = "Wind", C = "Colors";
  const std::string corner = "INP_Notify=1";
  Tool t;
  t.name = "candle", t.library = CANDLE_PLUGIN_PATH, t.className = "CandlePlugIn";
  t.registration = {0x80010085, "Vorn_Tamb9", "Can",     "Flame simulation",
                    "Candle",   "Tamb9.hlp",  0x01010902};
  t.pages = {"Where", "Flame", "Wind", "Colors"};
  t.declarations = {
      // The ring's first point gets its link once the last is declared.
      Point(W, "Bottom Right", "BRig", "0.875", "0.913", "INP_Notify=1 INP_Link=Curve Point 2"),
      Point(W, "Top Right", "TRig", "0.875", "0.13", "INP_Link=Bottom Right " + corner),
      Point(W, "Top Left", "TLef", "0.125", "0.13", "INP_Link=Top Right " + corner),
      Point(W, "Bottom Left", "BLef", "0.125", "0.913", "INP_Link=Top Left " + corner),
      Point(W, "Curve Point 1", "CPo1", "0.375", "0.957", "INP_Link=Bottom Left " + corner),
      Point(W, "Curve Point 2", "CPo2", "0.625", "0.87", "INP_Link=Curve Point 1 " + corner),
      Slider(Fl, "Flame Density", "Dens", "0", "100", "100"),
      Slider(Fl, "Convection", "Conv", "0", "40", "100"),
      Slider(Fl, "Flicker Speed", "FSpe", "0", "50", "100"),
      Slider(Fl, "Turbulence", "Turb", "0", "40", "100"),
      Slider(Fl, "Frequency 1", "Fre1", "0", "30", "100"),
      Slider(Fl, "Frequency 2", "Fre2", "0", "70", "100"),
      Slider(Fl, "Base Softness", "BSof", "0", "10", "100"),
      Slider(Fl, "Edge Softness", "ESof", "0", "30", "100"),
      Check(Fl, "Use Matte", "Matt"),
      Check(Fl, "Invert Matte", "RMat"),
      Slider(Fl, "Seed", "Seed", "1", "2000", "9999999"),
      Combo(
          Fl, "Demos", "Dem1",
          {"No Change", "Still Flame", "Turb1-Soft", "Turb2-Wiggly", "Turb3-Wild", "Turb4-Fluffy"},
          kPresetCombo),
      Slider(Wi, "Wind Speed", "WSpe", "0", "30", "100"),
      Point(Wi, "XY Wind Source", "WSou", "0.05", "0.45", "INP_Link=XY Wind Target"),
      Point(Wi, "XY Wind Target", "WTar", "0.45", "0.45", "INP_Link=XY Wind Source"),
      Slider(Wi, "Wind Spread", "WSpr", "0", "60", "180"),
      Colour(C, "Color 1 Red", "Red1", "Color 1", 1, 0, "1"),
      Colour(C, "Color 1 Green", "Gre1", "Color 1", 1, 1, "1"),
      Colour(C, "Color 1 Blue", "Blu1", "Color 1", 1, 2, "1"),
      Slider(C, "Proportion Color 1", "Pro1", "0", "50", "100"),
      Colour(C, "Color 2 Red", "Red2", "Color 2", 2, 0, "1"),
      Colour(C, "Color 2 Green", "Gre2", "Color 2", 2, 1, "1"),
      Colour(C, "Color 2 Blue", "Blu2", "Color 2", 2, 2, "0"),
      Combo(C, "Proportion Demos", "Dem2", {"No Change", "Evens", "Edge", "Center"}, kPresetCombo),
      Slider(C, "Proportion Color 2", "Pro2", "0", "50", "100"),
      Colour(C, "Color 3 Red", "Red3", "Color 3", 3, 0, "1"),
      Colour(C, "Color 3 Green", "Gre3", "Color 3", 3, 1, "0"),
      Colour(C, "Color 3 Blue", "Blu3", "Color 3", 3, 2, "0"),
      Slider(C, "Proportion Color 3", "Pro3", "0", "50", "100"),
      Line("-", "Background", "0x01706EC9", "Imag", ""),
      Line("-", "Matte(optional)", "0x02706EC9", "Imag", "INP_Required=0"),
  };
  t.resetCaption = "Reset Candle", t.resetChanges = 35;
  t.scenes = {Make(93, 71, {{"Background", "noise:1"}, {"Matte(optional)", "noise:99"}},
                   {{"Wind Speed", "70"}, {"Turbulence", "70"}, {"Use Matte", "1"}}, {2.5}, -1)};
  return t;
}

Tool Bleb() {
  Strings d = {
      Line("Ctrl", "XY Center", "Cent", "Poin",
           "INP_Control=OffC INP_PreviewControl=XHrC INP_DefaultX=0.5 INP_DefaultY=0.5"),
      Line("Ctrl", "Scale", "BScl", "Numb",
           "INP_Control=SliC INP_MinAllowed=0.001 INP_Default=1 INP_MaxScale=10 "
           "INP_PreviewControl=CirC INP_Link=XY Center"),
      Slider("Ctrl", "Rotate", "Rota", "-360", "0", "360"),
      Combo("Ctrl", "Fill Option", "Fill", {"Duplicate Edges", "Black Edges", "Wrap Edges"}, ""),
  };
  const char* angles[] = {"0", "51.4", "102.8", "154.3", "-154.3", "-102.9", "-51.4"};
  for (int n = 1; n <= 7; ++n) {
    const std::string k = std::to_string(n), page = "A" + k;
    d.push_back(Slider(page, "Amplitude " + k, "Amp" + k, "-0.99", "0", "10"));
    d.push_back(Line(page, "Angle " + k, "Ang" + k, "Numb",
                     "INP_Control=ScrC INP_PreviewControl=AngC INP_MinScale=-360 INP_Default=" +
                         std::string(angles[n - 1]) +
                         " INP_MaxScale=360 INP_CtlValue05=3600 INP_PreviewValue=450 "
                         "INP_Link=XY Center"));
    d.push_back(Slider(page, "Sharp " + k, "Sha" + k, "1", "4", "500"));
  }
  d.push_back(Line("-", "Input", "0x01706EC9", "Imag", ""));
  // Every lobe on, scaled down, in each fill mode.
  Assignments lobes = {{"Scale", "0.7"}};
  for (int n = 1; n <= 7; ++n)
    lobes.push_back({"Amplitude " + std::to_string(n), std::to_string(0.3 * n - 1)});
  std::vector<Scene> scenes;
  for (const char* mode : {"0", "1", "2"}) {
    Assignments sets = lobes;
    sets.push_back({"Fill Option", mode});
    scenes.push_back(Make(97, 61, {{"Input", "noise:3"}}, sets, {0}, 0));
  }
  Tool t;
  t.name = "bleb", t.library = BLEB_PLUGIN_PATH, t.className = "BlebPlugIn";
  t.registration = {0x8001008C, "Vorn_Tamb9", "Blb",     "For \"blebbing\" images",
                    "Bleb",     "Tamb9.hlp",  0x01010901};
  t.pages = {"Ctrl", "A1", "A2", "A3", "A4", "A5", "A6", "A7"};
  t.declarations = d;
  t.resetCaption = "Reset Bleb", t.resetChanges = 25;
  t.scenes = scenes;
  return t;
}

Pixels Blank(int w, int h) {
  return {w, h, std::vector<uint8_t>(size_t(w) * h * 4, 0)};
}

bool BubblesPicture(const std::string& name, int w, int h, Pixels* p) {
  *p = Blank(w, h);
  if (name == "black") return true;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = &p->bytes[(size_t(y) * w + x) * 4];
      if (name == "red") {
        px[2] = 255;
      } else if (name == "region") {  // red over the middle half, top 40 % of rows
        px[2] = y < h * 2 / 5 && x >= w / 4 && x < w * 3 / 4 ? 255 : 0;
      } else if (name == "gradient") {  // blue across, green down
        px[0] = uint8_t(x * 255 / std::max(1, w - 1));
        px[1] = uint8_t(y * 255 / std::max(1, h - 1));
        px[2] = 90, px[3] = 255;
      } else {
        return false;
      }
    }
  return true;
}

bool CandlePicture(const std::string& name, int w, int h, Pixels* p) {
  *p = Blank(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = p->bytes.data() + (size_t(y) * w + x) * 4;
      if (name == "gradient") {  // dusk: blue at the top to brown at the bottom
        px[0] = uint8_t(120 - 90 * y / h), px[1] = uint8_t(40 + 30 * y / h);
        px[2] = uint8_t(20 + 80 * y / h), px[3] = 255;
      } else if (name == "stripes") {  // grey bars, alpha falling to the right
        const uint8_t v = (x / 8) % 2 ? 90 : 160;
        px[0] = px[1] = px[2] = v, px[3] = uint8_t(255 - 200 * x / w);
      } else if (name == "disc") {  // red disc in the upper middle
        const double dx = (x - w / 2.0) / w, dy = (y - h / 3.0) / h;
        px[2] = dx * dx + dy * dy < 0.06 ? 255 : 0, px[3] = 255;
      } else {
        return false;
      }
    }
  return true;
}

}  // namespace

const std::vector<Tool>& Tools() {
  static const std::vector<Tool> tools = {Bubbles(), Candle(), Bleb()};
  return tools;
}

const Tool* FindTool(const std::string& name) {
  for (const Tool& t : Tools())
    if (t.name == name) return &t;
  return nullptr;
}

bool Picture(const std::string& tool, const std::string& name, int w, int h, Pixels* out) {
  if (name.rfind("noise:", 0) == 0) {
    const bleb::test::Image im = bleb::test::Noise(w, h, uint32_t(std::atoi(name.c_str() + 6)));
    *out = {w, h, im.data};
    return true;
  }
  if (tool == "bleb" && name == "grid") {
    const bleb::test::Image im = bleb::test::Grid(w, h);
    *out = {w, h, im.data};
    return true;
  }
  if (tool == "bubbles") return BubblesPicture(name, w, h, out);
  if (tool == "candle") return CandlePicture(name, w, h, out);
  return false;
}

}  // namespace contract
