// mkpictures: draws the nine screen pictures of the unit (800 x 480 RGBA PNG) from source.
//
//   mkpictures OUTDIR
//
// writes OUTDIR/start.png, start120.png, status.png, statusB.png, img1.png, img1b.png,
// img3.png, img3b.png and m5a.png. The pictures are backgrounds: the program draws buttons,
// needles, labels, values and tiles over them at the positions the screens use, so every
// such area is left plain here, and the meter scales are placed exactly where
// the meter needles point. Fonts come from Debian's fonts-dejavu-core and
// fonts-paratype (the directories can be overridden with MKPICTURES_DEJAVU and
// MKPICTURES_PARATYPE).
#include "display/snapshot.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int W = 800;
constexpr int H = 480;

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

struct Pt {
    double x, y;
};

Pt operator+(Pt a, Pt b) { return {a.x + b.x, a.y + b.y}; }
Pt operator-(Pt a, Pt b) { return {a.x - b.x, a.y - b.y}; }
Pt operator*(Pt a, double k) { return {a.x * k, a.y * k}; }

Pt unit(Pt a)
{
    const double l = std::hypot(a.x, a.y);
    return l > 0 ? Pt{a.x / l, a.y / l} : Pt{0, 0};
}

// ---------------------------------------------------------------------------------------
// Canvas and an anti-aliased polygon filler: 16 sub-scanlines per row, exact coverage
// across each span; non-zero winding so that contours can be combined.

struct Canvas {
    std::vector<Rgb> px = std::vector<Rgb>(static_cast<size_t>(W) * H, Rgb{0, 0, 0});

    void blend(int x, int y, Rgb c, float a)
    {
        if (x < 0 || y < 0 || x >= W || y >= H || a <= 0)
            return;
        Rgb& d = px[static_cast<size_t>(y) * W + x];
        a = std::min(a, 1.0f);
        d = mix(d, c, a);
    }
};

using Paint = std::function<Rgb(int x, int y)>;
using Contour = std::vector<Pt>;

Paint solid(Rgb c)
{
    return [c](int, int) { return c; };
}

Paint vertical(double y0, Rgb top, double y1, Rgb bottom)
{
    return [=](int, int y) {
        const double t = std::clamp((y + 0.5 - y0) / (y1 - y0), 0.0, 1.0);
        return mix(top, bottom, static_cast<float>(t));
    };
}

void fill(Canvas& cv, const std::vector<Contour>& shape, const Paint& paint, float opacity = 1.0f)
{
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (const auto& c : shape)
        for (const auto& p : c) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
    const int y0 = std::max(0, static_cast<int>(std::floor(minY)));
    const int y1 = std::min(H - 1, static_cast<int>(std::ceil(maxY)));
    const int x0 = std::max(0, static_cast<int>(std::floor(minX)));
    const int x1 = std::min(W - 1, static_cast<int>(std::ceil(maxX)));
    if (x1 < x0 || y1 < y0)
        return;
    constexpr int S = 16;
    std::vector<float> cov(static_cast<size_t>(x1 - x0 + 2));
    std::vector<std::pair<double, int>> xs;
    for (int y = y0; y <= y1; ++y) {
        std::fill(cov.begin(), cov.end(), 0.0f);
        bool any = false;
        for (int s = 0; s < S; ++s) {
            const double sy = y + (s + 0.5) / S;
            xs.clear();
            for (const auto& c : shape) {
                const size_t n = c.size();
                for (size_t i = 0; i < n; ++i) {
                    const Pt& p = c[i];
                    const Pt& q = c[(i + 1) % n];
                    if ((p.y <= sy && q.y > sy) || (q.y <= sy && p.y > sy)) {
                        const double x = p.x + (sy - p.y) * (q.x - p.x) / (q.y - p.y);
                        xs.emplace_back(x, q.y > p.y ? 1 : -1);
                    }
                }
            }
            if (xs.size() < 2)
                continue;
            std::sort(xs.begin(), xs.end());
            int wind = 0;
            for (size_t i = 0; i + 1 < xs.size(); ++i) {
                wind += xs[i].second;
                if (wind == 0)
                    continue;
                double a = std::clamp(xs[i].first, static_cast<double>(x0), x1 + 1.0);
                double b = std::clamp(xs[i + 1].first, static_cast<double>(x0), x1 + 1.0);
                if (b <= a)
                    continue;
                any = true;
                const int ia = static_cast<int>(std::floor(a));
                const int ib = static_cast<int>(std::floor(b));
                const float w = 1.0f / S;
                if (ia == ib) {
                    cov[ia - x0] += static_cast<float>((b - a) * w);
                } else {
                    cov[ia - x0] += static_cast<float>((ia + 1 - a) * w);
                    for (int x = ia + 1; x < ib; ++x)
                        cov[x - x0] += w;
                    if (ib <= x1)
                        cov[ib - x0] += static_cast<float>((b - ib) * w);
                }
            }
        }
        if (!any)
            continue;
        for (int x = x0; x <= x1; ++x) {
            const float a = cov[x - x0];
            if (a > 0.001f)
                cv.blend(x, y, paint(x, y), std::min(a, 1.0f) * opacity);
        }
    }
}

void fill(Canvas& cv, const Contour& c, const Paint& paint, float opacity = 1.0f)
{
    fill(cv, std::vector<Contour>{c}, paint, opacity);
}

Contour rect(double x0, double y0, double x1, double y1)
{
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

Contour roundRect(double x0, double y0, double x1, double y1, double r)
{
    Contour c;
    const double cx[4] = {x1 - r, x1 - r, x0 + r, x0 + r};
    const double cy[4] = {y0 + r, y1 - r, y1 - r, y0 + r};
    const double start[4] = {-M_PI / 2, 0, M_PI / 2, M_PI};
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i <= 12; ++i) {
            const double a = start[k] + (M_PI / 2) * i / 12;
            c.push_back({cx[k] + r * std::cos(a), cy[k] + r * std::sin(a)});
        }
    return c;
}

Contour reversed(Contour c)
{
    std::reverse(c.begin(), c.end());
    return c;
}

Contour circle(Pt c, double r)
{
    Contour out;
    for (int i = 0; i < 96; ++i) {
        const double a = 2 * M_PI * i / 96;
        out.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
    }
    return out;
}

// A straight stroke with flat ends.
Contour bar(Pt a, Pt b, double width)
{
    const Pt d = unit(b - a);
    const Pt n{-d.y * width / 2, d.x * width / 2};
    return {a + n, b + n, b - n, a - n};
}

// A stroke along a smooth curve given by dense points.
Contour strokeCurve(const std::vector<Pt>& pts, double width)
{
    Contour left, right;
    for (size_t i = 0; i < pts.size(); ++i) {
        const Pt d = unit(pts[std::min(i + 1, pts.size() - 1)] - pts[i > 0 ? i - 1 : 0]);
        const Pt n{-d.y * width / 2, d.x * width / 2};
        left.push_back(pts[i] + n);
        right.push_back(pts[i] - n);
    }
    std::reverse(right.begin(), right.end());
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

void frame(Canvas& cv, double x0, double y0, double x1, double y1, double r, double w, Rgb c,
           float opacity = 1.0f)
{
    fill(cv, {roundRect(x0, y0, x1, y1, r), reversed(roundRect(x0 + w, y0 + w, x1 - w, y1 - w, std::max(0.0, r - w)))},
         solid(c), opacity);
}

// ---------------------------------------------------------------------------------------
// Text through FreeType: grey-level glyphs placed on whole pixels, with kerning.

struct Font {
    FT_Face face = nullptr;
};

FT_Library ftLib = nullptr;

Font openFont(const std::string& path)
{
    Font f;
    if (FT_New_Face(ftLib, path.c_str(), 0, &f.face) != 0) {
        std::fprintf(stderr, "mkpictures: cannot open font %s\n", path.c_str());
        std::exit(1);
    }
    return f;
}

struct TextStyle {
    const Font* font;
    int size;
    Rgb color;
    double tracking = 0; // extra pixels between letters
    const Font* fallback = nullptr;
};

enum class Align { Left, Center, Right };

// Runs fn(face, glyphIndex, penX) for every character and returns the advance width.
double layout(const TextStyle& st, const std::u32string& text,
              const std::function<void(FT_Face, FT_UInt, double)>& fn)
{
    double pen = 0;
    FT_UInt prev = 0;
    FT_Face prevFace = nullptr;
    for (size_t i = 0; i < text.size(); ++i) {
        FT_Face f = st.font->face;
        FT_UInt gi = FT_Get_Char_Index(f, text[i]);
        if (gi == 0 && st.fallback) {
            f = st.fallback->face;
            gi = FT_Get_Char_Index(f, text[i]);
        }
        FT_Set_Pixel_Sizes(f, 0, st.size);
        if (prevFace == f && prev && FT_HAS_KERNING(f)) {
            FT_Vector k;
            FT_Get_Kerning(f, prev, gi, FT_KERNING_DEFAULT, &k);
            pen += k.x / 64.0;
        }
        if (FT_Load_Glyph(f, gi, FT_LOAD_DEFAULT) != 0)
            continue;
        if (fn)
            fn(f, gi, pen);
        pen += f->glyph->advance.x / 64.0;
        if (i + 1 < text.size())
            pen += st.tracking;
        prev = gi;
        prevFace = f;
    }
    return pen;
}

double textWidth(const TextStyle& st, const std::u32string& text)
{
    return layout(st, text, nullptr);
}

void drawText(Canvas& cv, const TextStyle& st, double x, int baseline, const std::u32string& text,
              Align align = Align::Left, float opacity = 1.0f)
{
    const double w = textWidth(st, text);
    const double start = align == Align::Left ? x : align == Align::Center ? x - w / 2 : x - w;
    const int ox = static_cast<int>(std::lround(start));
    layout(st, text, [&](FT_Face f, FT_UInt gi, double pen) {
        FT_Load_Glyph(f, gi, FT_LOAD_RENDER);
        const FT_Bitmap& bm = f->glyph->bitmap;
        const int gx = ox + static_cast<int>(std::lround(pen)) + f->glyph->bitmap_left;
        const int gy = baseline - f->glyph->bitmap_top;
        for (unsigned r = 0; r < bm.rows; ++r)
            for (unsigned c = 0; c < bm.width; ++c) {
                const unsigned char a = bm.buffer[r * bm.pitch + c];
                if (a)
                    cv.blend(gx + static_cast<int>(c), gy + static_cast<int>(r), st.color,
                             a / 255.0f * opacity);
            }
    });
}

// Cap height of a style (height of "H"), for centring text on a point.
double capHeight(const TextStyle& st)
{
    FT_Set_Pixel_Sizes(st.font->face, 0, st.size);
    FT_Load_Char(st.font->face, 'H', FT_LOAD_DEFAULT);
    return st.font->face->glyph->metrics.height / 64.0;
}

std::u32string u32(const std::string& s)
{
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += c;
            i += 1;
        } else if ((c >> 5) == 6 && i + 1 < s.size()) {
            out += static_cast<char32_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
            i += 2;
        } else if ((c >> 4) == 14 && i + 2 < s.size()) {
            out += static_cast<char32_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
            i += 3;
        } else {
            i += 1;
        }
    }
    return out;
}

struct Fonts {
    Font sans, sansBold, pt, ptBold;
};

Fonts fonts;

TextStyle style(const Font& f, int size, Rgb c, double tracking = 0)
{
    return TextStyle{&f, size, c, tracking, &fonts.sansBold};
}

// ---------------------------------------------------------------------------------------
// Palette and the shared regions of the screens.

const Rgb ORANGE{250, 150, 0};
const Rgb INK{28, 26, 24};
const Rgb FACE_TOP{248, 244, 232};
const Rgb FACE_BOTTOM{232, 224, 204};
const Rgb SCALE_RED{196, 32, 28};

// Top bar: the unit's name at the left; the right end stays plain for the network and
// date line (slot 6, white, ending at x 780 on baseline 17).
void topBar(Canvas& cv, const char* rating)
{
    fill(cv, rect(0, 0, W, 24), vertical(0, Rgb{34, 36, 41}, 24, Rgb{22, 23, 27}));
    fill(cv, rect(0, 23, W, 24), solid(Rgb{58, 61, 68}));
    const TextStyle name = style(fonts.ptBold, 14, Rgb{196, 198, 204}, 1.6);
    drawText(cv, name, 12, 17, U"HF LINEAR AMPLIFIER");
    const double w = textWidth(name, U"HF LINEAR AMPLIFIER");
    const TextStyle model = style(fonts.ptBold, 14, ORANGE, 1.0);
    drawText(cv, model, 12 + w + 12, 17, u32(rating));
}

// Lower area of the main screens: the status strip (boxes at rows 278 ... 332, drawn by
// the program), the message line (350) and the fault tiles (370 ... 414).
void lowerArea(Canvas& cv, double top)
{
    fill(cv, rect(0, top, W, 420), solid(Rgb{15, 16, 19}));
    fill(cv, rect(0, 275, W, 336), solid(Rgb{24, 26, 31}));
    fill(cv, rect(0, 336, W, 337), solid(Rgb{34, 37, 43}));
}

// The button row as the program draws it (fill (40, 40, 40) with a grey top line), so the
// narrow gaps between the buttons and a screen without buttons look the same.
void buttonRow(Canvas& cv)
{
    fill(cv, rect(0, 420, W, H), solid(Rgb{12, 12, 14}));
    const int x0[6] = {0, 133, 266, 399, 532, 665};
    const int x1[6] = {129, 262, 395, 528, 661, 798};
    for (int i = 0; i < 6; ++i) {
        fill(cv, rect(x0[i], 420, x1[i] + 1, H), solid(Rgb{40, 40, 40}));
        fill(cv, rect(x0[i], 420, x1[i] + 1, 421), solid(Rgb{120, 120, 120}));
    }
}

// ---------------------------------------------------------------------------------------
// Meters. For a value v on a scale of n steps the needle angle is
// theta = (0.24 - v * 0.48 / n) * 3.141692653, and the needle runs from (c, 260) to
// x = c - 200 sin theta + 15 cos(theta + 1.5708463265), y = 260 - 200 cos theta +
// 15 sin(theta + 1.5708463265), each truncated to an integer. The scale is laid along
// that tip curve: each mark lies on the line through the centres of the base pixel and
// the tip pixel, so the drawn needle ends in the middle of its mark.

constexpr double K = 3.141692653;
constexpr double BASE_Y = 260;

double needleAngle(double v, double n)
{
    return (0.24 - v * 0.48 / n) * K;
}

Pt tipExact(double c, double theta)
{
    return {c - 200 * std::sin(theta) + 15 * std::cos(theta + 1.5708463265),
            BASE_Y - 200 * std::cos(theta) + 15 * std::sin(theta + 1.5708463265)};
}

// Centre of the pixel the needle tip is drawn on, and the needle's direction there.
void tipPixel(double c, double theta, Pt& tip, Pt& dir)
{
    const Pt t = tipExact(c, theta);
    tip = {std::floor(t.x) + 0.5, std::floor(t.y) + 0.5};
    dir = unit(tip - Pt{c + 0.5, BASE_Y + 0.5});
}

// Along-needle distances from the tip (pixels, positive outward).
constexpr double ARC_D = -6;     // scale base line
constexpr double MINOR_D = 3;    // outer end of a minor mark
constexpr double MEDIUM_D = 7;
constexpr double MAJOR_D = 11;
constexpr double NUMBER_D = 23;  // centre of a scale number

struct Mark {
    double steps;      // position in meter steps
    int level;         // 0 minor, 1 medium, 2 major
    std::string label; // for majors
    bool red;
};

struct Scale {
    double n;                 // steps of full scale
    std::vector<Mark> marks;
    double redFrom = -1;      // steps from which the scale is printed red (-1: none)
    std::string legend;
};

Scale powerScale(int fullScale)
{
    Scale s;
    s.n = fullScale;
    const int major = fullScale <= 60 ? 10 : 20;
    const int minor = fullScale <= 60 ? 1 : 2;
    for (int v = 0; v <= fullScale; v += minor) {
        Mark m{static_cast<double>(v), 0, "", false};
        if (v % major == 0) {
            m.level = 2;
            m.label = std::to_string(v);
        } else if (v % (major / 2) == 0) {
            m.level = 1;
        }
        s.marks.push_back(m);
    }
    s.legend = "WATTS";
    return s;
}

// CONV_SWR of the screen loop and its interpolation (CalcolaSWR).
const double SWR_VAL[12] = {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 100.0};
const double SWR_STEP[12] = {0, 11, 20, 30, 36, 40, 43, 45, 47, 48, 50, 60};

double swrSteps(double swr)
{
    if (swr < 1.0)
        return 0;
    if (swr >= 100.0)
        return 60;
    for (int i = 1; i < 12; ++i)
        if (SWR_VAL[i] > swr)
            return SWR_STEP[i - 1] + (SWR_STEP[i] - SWR_STEP[i - 1]) * (swr - SWR_VAL[i - 1]) /
                                         (SWR_VAL[i] - SWR_VAL[i - 1]);
    return 60;
}

Scale swrScale()
{
    Scale s;
    s.n = 60;
    s.redFrom = 30;
    const struct {
        double swr;
        int level;
        const char* label;
    } marks[] = {
        {1.0, 2, "1"},  {1.1, 0, ""},   {1.2, 0, ""},  {1.3, 0, ""},  {1.4, 0, ""},
        {1.5, 2, "1.5"}, {1.6, 0, ""},  {1.7, 0, ""},  {1.8, 0, ""},  {1.9, 0, ""},
        {2.0, 2, "2"},  {2.5, 1, ""},   {3.0, 2, "3"}, {4.0, 1, ""},  {5.0, 2, "5"},
        {6.0, 0, ""},   {7.0, 0, ""},   {8.0, 0, ""},  {9.0, 0, ""},  {10.0, 2, "10"},
    };
    for (const auto& m : marks) {
        const double st = swrSteps(m.swr);
        s.marks.push_back({st, m.level, m.label, st >= s.redFrom});
    }
    s.marks.push_back({60, 2, "\u221E", true});
    return s; // the program prints "SWR" on the dial itself
}

void drawScale(Canvas& cv, double c, const Scale& s)
{
    // Base line along the tip curve, from 0 to full scale.
    const double blackEnd = s.redFrom >= 0 ? s.redFrom : s.n;
    std::vector<Pt> arc, redArc;
    std::vector<Pt> redInner, redOuter;
    for (int i = 0; i <= 240; ++i) {
        const double v = s.n * i / 240.0;
        const double th = needleAngle(v, s.n);
        const Pt t = tipExact(c, th);
        const Pt d = unit(t - Pt{c, BASE_Y});
        if (v <= blackEnd + 1e-9)
            arc.push_back(t + d * ARC_D);
        if (s.redFrom >= 0 && v >= s.redFrom - 1e-9) {
            redArc.push_back(t + d * ARC_D);
            redInner.push_back(t + d * (ARC_D - 4.5));
            redOuter.push_back(t + d * (ARC_D - 0.5));
        }
    }
    fill(cv, strokeCurve(arc, 1.6), solid(INK));
    if (!redInner.empty()) {
        fill(cv, strokeCurve(redArc, 1.6), solid(SCALE_RED));
        // The red band of the high-SWR end, just inside the base line.
        Contour band = redOuter;
        std::reverse(redInner.begin(), redInner.end());
        band.insert(band.end(), redInner.begin(), redInner.end());
        fill(cv, band, solid(SCALE_RED));
    }

    const TextStyle num = style(fonts.ptBold, 17, INK);
    const double cap = capHeight(num);
    for (const auto& m : s.marks) {
        Pt tip, dir;
        tipPixel(c, needleAngle(m.steps, s.n), tip, dir);
        const double outer = m.level == 2 ? MAJOR_D : m.level == 1 ? MEDIUM_D : MINOR_D;
        const double width = m.level == 2 ? 2.6 : m.level == 1 ? 2.0 : 1.25;
        const Rgb col = m.red ? SCALE_RED : INK;
        fill(cv, bar(tip + dir * (ARC_D - 0.8), tip + dir * outer, width), solid(col));
        if (!m.label.empty()) {
            const Pt at = tip + dir * NUMBER_D;
            TextStyle st = num;
            st.color = col;
            if (m.label == "\u221E")
                st.size = 24; // the infinity sign reads small beside the figures
            drawText(cv, st, at.x, static_cast<int>(std::lround(at.y + cap / 2)), u32(m.label), Align::Center);
        }
    }
    if (!s.legend.empty()) {
        const TextStyle leg = style(fonts.ptBold, 12, Rgb{120, 112, 98}, 2.0);
        drawText(cv, leg, c, 122, u32(s.legend), Align::Center);
    }
}

// Pivot at the needle base: the three needle lines start from its centre.
void pivot(Canvas& cv, double c)
{
    fill(cv, circle({c + 0.5, BASE_Y + 0.5}, 9.5), solid(Rgb{70, 70, 72}));
    fill(cv, circle({c + 0.5, BASE_Y + 0.5}, 7.0), vertical(BASE_Y - 7, Rgb{62, 62, 64}, BASE_Y + 7, Rgb{24, 24, 26}));
}

// The frequency read-out (DrawFreq): slot 4 (PT Sans bold 24) from x 339 on
// baseline 52, black on the meter views; the window fits the widest read-outs.
void frequencyWindow(Canvas& cv, bool dark)
{
    const TextStyle ro = style(fonts.ptBold, 24, INK);
    double w = 0;
    for (const char* s : {"54.000MHz", "99.999MHz", "999.999kHz", "28.500MHz"})
        w = std::max(w, textWidth(ro, u32(s)));
    const double x0 = 339 - 12;
    const double x1 = 339 + w + 12;
    if (dark) {
        fill(cv, roundRect(x0, 29, x1, 56, 5), solid(Rgb{10, 12, 16}));
        frame(cv, x0, 29, x1, 56, 5, 1, Rgb{64, 70, 80});
    } else {
        fill(cv, roundRect(x0, 28, x1, 60, 5), vertical(28, Rgb{226, 219, 200}, 60, Rgb{236, 230, 214}));
        frame(cv, x0, 28, x1, 60, 5, 1, Rgb{150, 140, 118});
    }
}

void meterScreen(Canvas& cv, const char* rating, int forwardFull, bool swr)
{
    fill(cv, rect(0, 0, W, H), solid(Rgb{15, 16, 19}));
    topBar(cv, rating);
    // Bezel and face of the meter panel: rows 24 ... 274 hold both meters, the read-out
    // and the TX indicator (375 ... 429 x 175 ... 209).
    fill(cv, roundRect(6, 24, 794, 274, 11), vertical(24, Rgb{78, 80, 86}, 274, Rgb{40, 41, 45}));
    fill(cv, roundRect(9, 26, 791, 271, 9), [](int x, int y) {
        // Cream face, a touch lighter near the top centre of each dial.
        const double base = std::clamp((y - 26.0) / 245.0, 0.0, 1.0);
        Rgb c = mix(FACE_TOP, FACE_BOTTOM, static_cast<float>(base));
        const double dx = std::min(std::abs(x - 210.0), std::abs(x - 590.0)) / 260.0;
        const double glow = std::max(0.0, 1.0 - dx * dx) * std::max(0.0, 1.0 - base) * 0.5;
        return mix(c, Rgb{252, 250, 244}, static_cast<float>(glow));
    });
    frame(cv, 9, 26, 791, 271, 9, 1, Rgb{120, 112, 96}, 0.6f);
    // A hairline between the two dials, clear of the read-out and of the TX box.
    fill(cv, rect(399.5, 80, 400.5, 165), solid(Rgb{200, 190, 170}));
    fill(cv, rect(399.5, 218, 400.5, 262), solid(Rgb{200, 190, 170}));

    frequencyWindow(cv, false);
    drawScale(cv, 210, powerScale(forwardFull));
    drawScale(cv, 590, swr ? swrScale() : powerScale(60));
    pivot(cv, 210);
    pivot(cv, 590);

    lowerArea(cv, 274);
    buttonRow(cv);
}

// ---------------------------------------------------------------------------------------
// The other screens.

void splash(Canvas& cv, const char* rating)
{
    fill(cv, rect(0, 0, W, H), [](int x, int y) {
        const double dx = (x - 400.0) / 520.0, dy = (y - 136.0) / 380.0;
        const double t = std::clamp(std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
        return mix(Rgb{40, 44, 52}, Rgb{9, 10, 12}, static_cast<float>(t));
    });
    // Emblem: a meter dial with its needle, in the unit's orange.
    const Pt centre{400, 136};
    const double th0 = needleAngle(0, 60), th1 = needleAngle(60, 60);
    std::vector<Pt> arc;
    for (int i = 0; i <= 120; ++i) {
        const double th = th0 + (th1 - th0) * i / 120.0;
        arc.push_back(centre + Pt{-std::sin(th) * 92, -std::cos(th) * 92});
    }
    fill(cv, strokeCurve(arc, 3.0), solid(ORANGE));
    for (int i = 0; i <= 12; ++i) {
        const double th = th0 + (th1 - th0) * i / 12.0;
        const Pt d{-std::sin(th), -std::cos(th)};
        const double len = i % 2 == 0 ? 14 : 8;
        fill(cv, bar(centre + d * 93, centre + d * (93 + len), i % 2 == 0 ? 3.0 : 2.0), solid(ORANGE));
    }
    const double thn = needleAngle(38, 60);
    const Pt nd{-std::sin(thn), -std::cos(thn)};
    fill(cv, bar(centre, centre + nd * 100, 3.0), solid(Rgb{236, 238, 242}));
    fill(cv, circle(centre, 8), solid(Rgb{236, 238, 242}));
    fill(cv, circle(centre, 4), solid(Rgb{40, 44, 52}));

    drawText(cv, style(fonts.ptBold, 40, Rgb{240, 241, 244}, 3.0), 400, 196, U"HF LINEAR AMPLIFIER", Align::Center);
    const TextStyle sub = style(fonts.pt, 20, Rgb{170, 174, 182}, 1.5);
    const std::u32string line = u32(rating) + U"   \u00B7   AUTOMATIC ANTENNA TUNER";
    drawText(cv, sub, 400, 229, line, Align::Center);
    fill(cv, rect(250, 244, 550, 246), solid(ORANGE), 0.9f);
    // Rows 270 ... 480 stay plain: the loading count-down (300, 400), the closing message
    // (330, 400), the fatal error text (130, 300) and, on the error screen, the buttons.
}

void pageHeader(Canvas& cv, const char32_t* title)
{
    fill(cv, rect(0, 0, W, H), solid(Rgb{15, 16, 19}));
    fill(cv, rect(0, 0, W, 68), vertical(0, Rgb{36, 38, 44}, 68, Rgb{22, 24, 28}));
    fill(cv, rect(0, 66, W, 68), solid(ORANGE), 0.85f);
    if (title)
        drawText(cv, style(fonts.ptBold, 26, ORANGE, 2.0), 20, 46, title);
}

// Status page: titles at x 5 and values at x 180 on the baselines 110 + 22 k,
// white; the date at (300, 400).
void statusScreen(Canvas& cv)
{
    pageHeader(cv, U"SYSTEM STATUS");
    for (int k = 0; k < 12; ++k) {
        const double top = 110 + 22 * k - 17, bottom = top + 22;
        const Rgb band = k % 2 ? Rgb{22, 24, 29} : Rgb{28, 31, 37};
        fill(cv, rect(0, top, W, bottom), solid(band));
    }
    fill(cv, rect(0, 93, 172, 93 + 22 * 12), solid(Rgb{40, 44, 52}), 0.55f);
    fill(cv, rect(172, 93, 173, 93 + 22 * 12), solid(ORANGE), 0.6f);
    buttonRow(cv);
}

// Bank/interface table and filter pages: the title drawn at (100, 50) or
// (250, 50) in slot 0, the header at (50, 100), rows on the baselines 130 + 22 k.
void tableScreen(Canvas& cv)
{
    pageHeader(cv, nullptr);
    fill(cv, roundRect(30, 80, 770, 412, 8), solid(Rgb{22, 24, 29}));
    frame(cv, 30, 80, 770, 412, 8, 1, Rgb{52, 56, 64});
    fill(cv, rect(31, 106, 769, 107), solid(ORANGE), 0.7f);
    for (int k = 0; k < 12; ++k) {
        const double top = 130 + 22 * k - 17, bottom = top + 22;
        if (bottom > 411)
            break;
        if (k % 2 == 0)
            fill(cv, rect(31, top, 769, bottom), solid(Rgb{30, 33, 39}));
    }
    buttonRow(cv);
}

// Spectrum screen: grid from x 70 to 758 and rows 60 to 230, dB labels from
// x 35, "dBm" above them, kHz labels on baseline 243, the orange read-out at (339, 52).
void spectrumScreen(Canvas& cv)
{
    fill(cv, rect(0, 0, W, H), solid(Rgb{15, 16, 19}));
    topBar(cv, "");
    fill(cv, roundRect(6, 27, 794, 252, 9), vertical(27, Rgb{30, 33, 39}, 252, Rgb{22, 24, 29}));
    frame(cv, 6, 27, 794, 252, 9, 1, Rgb{60, 65, 74});
    fill(cv, rect(70, 60, 759, 231), vertical(60, Rgb{10, 14, 22}, 231, Rgb{4, 6, 10}));
    frame(cv, 67, 57, 762, 234, 2, 1, Rgb{46, 52, 62});
    frequencyWindow(cv, true);
    lowerArea(cv, 252);
    fill(cv, rect(0, 252, W, 275), solid(Rgb{15, 16, 19}));
    buttonRow(cv);
}

bool writePng(const Canvas& cv, const std::string& path)
{
    return writePngRows(path.c_str(), W, H, true, [&](int y, unsigned char* row) {
        for (int x = 0; x < W; ++x) {
            const Rgb& p = cv.px[static_cast<size_t>(y) * W + x];
            row[x * 4 + 0] = static_cast<unsigned char>(std::clamp(std::lround(p.r), 0L, 255L));
            row[x * 4 + 1] = static_cast<unsigned char>(std::clamp(std::lround(p.g), 0L, 255L));
            row[x * 4 + 2] = static_cast<unsigned char>(std::clamp(std::lround(p.b), 0L, 255L));
            row[x * 4 + 3] = 255;
        }
    }) == 0;
}

std::string envOr(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    if (FT_Init_FreeType(&ftLib) != 0) {
        std::fprintf(stderr, "mkpictures: FreeType does not start\n");
        return 1;
    }
    const std::string dejavu = envOr("MKPICTURES_DEJAVU", "/usr/share/fonts/truetype/dejavu");
    const std::string paratype = envOr("MKPICTURES_PARATYPE", "/usr/share/fonts/truetype/paratype");
    fonts.sans = openFont(dejavu + "/DejaVuSans.ttf");
    fonts.sansBold = openFont(dejavu + "/DejaVuSans-Bold.ttf");
    fonts.pt = openFont(paratype + "/PTS55F.ttf");
    fonts.ptBold = openFont(paratype + "/PTS75F.ttf");

    struct Job {
        const char* name;
        std::function<void(Canvas&)> draw;
    } jobs[] = {
        {"start", [](Canvas& c) { splash(c, "60 W"); }},
        {"start120", [](Canvas& c) { splash(c, "120 W"); }},
        {"status", [](Canvas& c) { statusScreen(c); }},
        {"statusB", [](Canvas& c) { tableScreen(c); }},
        {"img1", [](Canvas& c) { meterScreen(c, "60 W", 60, false); }},
        {"img1b", [](Canvas& c) { meterScreen(c, "120 W", 120, false); }},
        {"img3", [](Canvas& c) { meterScreen(c, "60 W", 60, true); }},
        {"img3b", [](Canvas& c) { meterScreen(c, "120 W", 120, true); }},
        {"m5a", [](Canvas& c) { spectrumScreen(c); }},
    };
    for (auto& job : jobs) {
        Canvas cv;
        job.draw(cv);
        const std::string path = out + "/" + job.name + ".png";
        if (!writePng(cv, path)) {
            std::fprintf(stderr, "mkpictures: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
