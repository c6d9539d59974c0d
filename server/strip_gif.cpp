// Drawing the strips (a heading with title and date over three panels of a
// small scene with two figures talking) and writing them as GIF with giflib.
#include "server/strip_gif.hpp"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace server {
namespace {

enum colour : std::uint8_t {
  white, black, light_grey, mid_grey, dark_grey, sky_pale, sky_blue, sky_deep,
  dusk_orange, dusk_rose, grass_light, grass_dark, earth, skin_light, skin_dark, red,
  blue, yellow, green, purple, orange, teal, cloud, sun, paper, hair_brown,
  hair_black, pink, navy, brick, leaf, forest,
};
constexpr int palette_size = 32;

constexpr std::array<GifColorType, palette_size> palette = {{
    {255, 255, 255}, {0, 0, 0},       {200, 200, 200}, {140, 140, 140}, {70, 70, 70},
    {200, 230, 250}, {130, 190, 240}, {70, 130, 210},  {250, 170, 90},  {230, 120, 140},
    {120, 200, 90},  {60, 140, 50},   {150, 100, 60},  {250, 210, 170}, {190, 130, 90},
    {220, 50, 50},   {50, 90, 200},   {250, 220, 60},  {60, 170, 90},   {140, 80, 180},
    {240, 140, 40},  {40, 160, 160},  {245, 245, 250}, {255, 235, 120}, {250, 245, 225},
    {120, 70, 30},   {30, 30, 40},    {240, 160, 190}, {30, 40, 100},   {170, 70, 50},
    {90, 170, 60},   {30, 100, 50},
}};

// splitmix64: a small generator whose sequence is the same on every machine.
class seeded {
 public:
  explicit seeded(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  int between(int low, int high) { return low + below(high - low + 1); }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) { return items[static_cast<std::size_t>(below(N))]; }

 private:
  std::uint64_t state_;
};

// FNV-1a over the comic's key, the date and a part number.
std::uint64_t seed_of(std::string_view key, day d, int part) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  const auto mix = [&hash](std::string_view text) {
    for (char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001b3ULL;
    }
  };
  mix(key);
  mix("/");
  mix(compact_date(d));
  mix("/");
  mix(std::to_string(part));
  return hash;
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

// The comic's two figures keep their looks on every day.
struct figure {
  std::uint8_t shirt;
  std::uint8_t trousers;
  std::uint8_t skin;
  std::uint8_t hair;
  int height;  // from the feet to the top of the head
};

struct cast {
  figure left;
  figure right;
};

cast cast_of(std::string_view key) {
  seeded rng(seed_of(key, day{}, 0));
  constexpr std::array<std::uint8_t, 8> shirts = {red, blue, yellow, green, purple, orange, teal, pink};
  constexpr std::array<std::uint8_t, 4> trousers = {navy, dark_grey, earth, black};
  constexpr std::array<std::uint8_t, 2> skins = {skin_light, skin_dark};
  constexpr std::array<std::uint8_t, 4> hairs = {hair_brown, hair_black, orange, yellow};
  const auto make = [&]() {
    return figure{rng.pick(shirts), rng.pick(trousers), rng.pick(skins), rng.pick(hairs),
                  rng.between(62, 82)};
  };
  cast people{make(), make()};
  if (people.right.shirt == people.left.shirt) people.right.shirt = people.left.shirt == red ? blue : red;
  return people;
}

constexpr std::array<const char*, 16> openers = {
    "NICE DAY, ISN'T IT?", "DID YOU HEAR?|BIG NEWS!", "I HAVE A PLAN.", "WHERE WERE YOU?",
    "LOOK AT THAT!", "GUESS WHAT|I FOUND.", "MORNING!", "HOW WAS YOUR WEEK?",
    "I'M BORED.", "WANT SOME TEA?", "IT'S MONDAY|AGAIN?", "HAVE YOU SEEN|MY HAT?",
    "LET'S GO OUT!", "I HAD A DREAM.", "WHAT IS THAT|NOISE?", "READY?"};
constexpr std::array<const char*, 16> replies = {
    "TELL ME MORE.", "OH NO.", "NOT AGAIN!", "SURE, WHY NOT?", "HMM...", "I DOUBT IT.",
    "REALLY?", "WAIT A MINUTE.", "THAT'S ODD.", "I WAS BUSY.", "MAYBE LATER.",
    "SOUNDS RISKY.", "YOU DID WHAT?", "GOOD QUESTION.", "SHH!", "WHO KNOWS?"};
constexpr std::array<const char*, 16> punchlines = {
    "...AND THAT'S|WHY WE CAN'T|HAVE NICE THINGS.", "WORTH IT!", "I REGRET|NOTHING.",
    "SAME TIME|TOMORROW?", "TYPICAL.", "I KNEW IT!", "WELL, THAT|WENT WELL.",
    "BACK TO BED.", "NEXT TIME|I CHOOSE.", "CLASSIC!", "THE END?", "NEVER AGAIN.",
    "HA HA HA!", "ZZZ...", "OOPS.", "TOLD YOU SO."};

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    const auto bar = text.find('|');
    lines.push_back(text.substr(0, bar));
    if (bar == std::string_view::npos) return lines;
    text.remove_prefix(bar + 1);
  }
}

struct box {
  int left;
  int top;
  int width;
  int height;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
};

void draw_sky(canvas& picture, const box& panel, int horizon, int mood) {
  const std::uint8_t tops[3] = {sky_deep, dusk_rose, mid_grey};
  const std::uint8_t bottoms[3] = {sky_pale, dusk_orange, light_grey};
  const int bands = 17;
  const int band_height = std::max(1, (horizon - panel.top + bands - 1) / bands);
  for (int band = 0; band < bands; ++band)
    picture.dither_rect(panel.left, panel.top + band * band_height, panel.width, band_height,
                        tops[mood], bottoms[mood], band);
}

void draw_scenery(canvas& picture, const box& panel, int horizon, int mood, seeded& rng) {
  if (mood == 0) {
    const int x = rng.between(panel.left + 20, panel.right() - 20);
    picture.fill_ellipse(x, panel.top + 22, 13, 13, sun);
    picture.frame_ellipse(x, panel.top + 22, 13, 13, 2, orange);
  }
  for (int n = rng.between(1, 3); n > 0; --n) {
    const int x = rng.between(panel.left, panel.right());
    const int y = rng.between(panel.top + 10, panel.top + 45);
    for (int puff = 0; puff < 4; ++puff)
      picture.fill_ellipse(x + puff * 11 - 16, y + (puff % 2) * 4, 12, 8, cloud);
  }
  for (int n = rng.between(1, 2); n > 0; --n)
    picture.fill_ellipse(rng.between(panel.left, panel.right()), horizon + 8,
                         rng.between(50, 90), rng.between(22, 40), n == 1 ? forest : grass_dark);
  switch (rng.below(3)) {
    case 0: {  // a tree
      const int x = rng.between(panel.left + 15, panel.right() - 15);
      picture.fill_rect(x - 4, horizon - 30, 8, 34, earth);
      picture.fill_ellipse(x, horizon - 40, 20, 22, leaf);
      for (int n = 0; n < 40; ++n)
        picture.point(x + rng.between(-16, 16), horizon - 40 + rng.between(-18, 18), forest);
      break;
    }
    case 1: {  // a house
      const int x = rng.between(panel.left + 10, panel.right() - 60);
      picture.fill_rect(x, horizon - 36, 50, 40, brick);
      picture.fill_triangle(x - 6, horizon - 36, x + 56, horizon - 36, x + 25, horizon - 62, dark_grey);
      picture.fill_rect(x + 8, horizon - 26, 12, 10, sky_pale);
      picture.frame_rect(x + 8, horizon - 26, 12, 10, 1, black);
      picture.fill_rect(x + 30, horizon - 20, 12, 24, earth);
      break;
    }
    case 2: {  // a fence
      for (int x = panel.left + 4; x < panel.right(); x += 12)
        picture.fill_rect(x, horizon - 18, 5, 22, white);
      picture.fill_rect(panel.left, horizon - 12, panel.width, 3, white);
      break;
    }
  }
}

void draw_ground(canvas& picture, const box& panel, int horizon, seeded& rng) {
  picture.fill_rect(panel.left, horizon, panel.width, panel.bottom() - horizon, grass_light);
  // Scattered blades of grass give the ground some texture.
  const int blades = panel.width * (panel.bottom() - horizon) / 3;
  for (int n = 0; n < blades; ++n) {
    const int x = rng.between(panel.left, panel.right() - 1);
    const int y = rng.between(horizon + 1, panel.bottom() - 1);
    picture.point(x, y, grass_dark);
    if (rng.below(2) == 0) picture.point(x, y - 1, rng.below(4) == 0 ? forest : grass_dark);
  }
  picture.fill_rect(panel.left, horizon, panel.width, 2, grass_dark);
}

// A figure standing on `ground` centred at x; `pose` chooses the arms.
void draw_figure(canvas& picture, const figure& who, int x, int ground, int pose, int facing) {
  const int head_radius = 11;
  const int leg_length = who.height * 30 / 100;
  const int body_height = who.height - leg_length - 2 * head_radius;
  const int hip = ground - leg_length;
  const int shoulder = hip - body_height;
  const int head_y = shoulder - head_radius + 1;

  picture.line(x - 4, hip, x - 8, ground, 4, who.trousers);
  picture.line(x + 4, hip, x + 8, ground, 4, who.trousers);
  picture.fill_rect(x - 12, ground - 2, 9, 3, black);
  picture.fill_rect(x + 4, ground - 2, 9, 3, black);

  const int arm_y = pose == 1 ? shoulder - 14 : pose == 2 ? shoulder + 6 : hip;
  picture.line(x - 10, shoulder + 3, x - 18, arm_y, 3, who.skin);
  picture.line(x + 10, shoulder + 3, x + 18, pose == 2 ? hip : arm_y, 3, who.skin);
  picture.fill_rect(x - 11, shoulder, 22, body_height, who.shirt);
  picture.frame_rect(x - 11, shoulder, 22, body_height, 1, black);

  picture.fill_ellipse(x, head_y - 3, head_radius + 1, head_radius - 2, who.hair);
  picture.fill_ellipse(x + facing, head_y + 1, head_radius - 1, head_radius - 1, who.skin);
  picture.frame_ellipse(x + facing, head_y + 1, head_radius - 1, head_radius - 1, 1, black);
  picture.fill_rect(x + facing * 4 - 4, head_y - 2, 2, 3, black);
  picture.fill_rect(x + facing * 4 + 2, head_y - 2, 2, 3, black);
  picture.line(x + facing * 4 - 3, head_y + 5, x + facing * 4 + 3, head_y + 5, 1, black);
}

// A speech bubble at the top of the panel with its tail towards the speaker.
void draw_bubble(canvas& picture, const box& panel, std::string_view said, int speaker_x,
                 int speaker_top) {
  const auto lines = split_lines(said);
  int text_width = 0;
  for (auto line : lines) text_width = std::max(text_width, canvas::text_width(line, 1));
  const int text_height = static_cast<int>(lines.size()) * 10 - 3;
  const int rx = std::min(panel.width / 2 - 4, text_width / 2 + 16);
  const int ry = text_height / 2 + 12;
  const int cx = std::clamp(speaker_x, panel.left + rx + 3, panel.right() - rx - 3);
  const int cy = panel.top + ry + 4;
  picture.fill_triangle(cx - 8, cy + ry - 6, cx + 8, cy + ry - 6, speaker_x, speaker_top - 4, white);
  picture.line(cx - 8, cy + ry - 4, speaker_x, speaker_top - 4, 1, black);
  picture.line(cx + 8, cy + ry - 4, speaker_x, speaker_top - 4, 1, black);
  picture.fill_ellipse(cx, cy, rx, ry, white);
  picture.frame_ellipse(cx, cy, rx, ry, 2, black);
  int y = cy - text_height / 2;
  for (auto line : lines) {
    picture.text(cx - canvas::text_width(line, 1) / 2, y, line, 1, black);
    y += 10;
  }
}

struct panel_plan {
  int mood;
  int speaker;  // 0 the left figure, 1 the right one
  std::string_view said;
};

void draw_panel(canvas& picture, const box& panel, const cast& people, const panel_plan& plan,
                seeded& rng) {
  picture.set_clip(panel.left, panel.top, panel.right(), panel.bottom());
  const int horizon = panel.top + panel.height * 64 / 100;
  const int ground = panel.bottom() - 14;
  draw_sky(picture, panel, horizon, plan.mood);
  draw_scenery(picture, panel, horizon, plan.mood, rng);
  draw_ground(picture, panel, horizon, rng);

  const int gap = rng.between(44, 70);
  const int centre = panel.left + panel.width / 2 + rng.between(-12, 12);
  const int left_x = centre - gap / 2;
  const int right_x = centre + gap / 2;
  draw_figure(picture, people.left, left_x, ground, plan.speaker == 0 ? rng.between(0, 2) : 0, 1);
  draw_figure(picture, people.right, right_x, ground, plan.speaker == 1 ? rng.between(0, 2) : 0, -1);

  const figure& speaker = plan.speaker == 0 ? people.left : people.right;
  const int speaker_x = plan.speaker == 0 ? left_x : right_x;
  draw_bubble(picture, panel, plan.said, speaker_x, ground - speaker.height);

  picture.clear_clip();
  picture.frame_rect(panel.left - 3, panel.top - 3, panel.width + 6, panel.height + 6, 3, black);
}

void draw_heading(canvas& picture, int height, std::string_view title, day d, int scale) {
  picture.fill_rect(0, 0, picture.width(), height, paper);
  const std::string title_text = upper(title);
  const std::string date_text = upper(calendar_date(d));
  const int date_width = canvas::text_width(date_text, scale);
  const int top = (height - canvas::text_height(scale)) / 2;
  if (canvas::text_width(title_text, scale) + date_width + 30 <= picture.width()) {
    picture.text(10, top, title_text, scale, black);
    picture.text(picture.width() - 10 - date_width, top, date_text, scale, dark_grey);
    return;
  }
  // Too narrow for one line: the title above the date.
  picture.text(6, 3, title_text, scale, black);
  picture.text(6, 5 + canvas::text_height(scale), date_text, scale, dark_grey);
}

}  // namespace

canvas draw_strip(std::string_view title, std::string_view key, day d) {
  canvas picture(strip_width, strip_height, white);
  const int heading = 34;
  draw_heading(picture, heading, title, d, 2);
  const cast people = cast_of(key);
  seeded rng(seed_of(key, d, 1));
  const int mood = rng.below(3);
  const int first_speaker = rng.below(2);
  const panel_plan plans[3] = {
      {mood, first_speaker, rng.pick(openers)},
      {mood, 1 - first_speaker, rng.pick(replies)},
      {mood, first_speaker, rng.pick(punchlines)},
  };
  const int width = 200;
  const int gap = 10;
  for (int n = 0; n < 3; ++n) {
    const box panel{gap + n * (width + gap), heading + 6, width, strip_height - heading - 6 - gap};
    draw_panel(picture, panel, people, plans[n], rng);
  }
  return picture;
}

canvas draw_extra(std::string_view title, std::string_view key, day d) {
  canvas picture(extra_width, extra_height, white);
  const int heading = 30;
  draw_heading(picture, heading, title, d, 1);
  const cast people = cast_of(key);
  seeded rng(seed_of(key, d, 2));
  const panel_plan plan{rng.below(3), rng.below(2), "SUNDAY BONUS!"};
  const int gap = 8;
  const box panel{gap, heading + 5, extra_width - 2 * gap, extra_height - heading - 5 - gap};
  draw_panel(picture, panel, people, plan, rng);
  return picture;
}

std::string encode_gif(const canvas& picture) {
  std::string out;
  const auto write_to_string = [](GifFileType* file, const GifByteType* data, int length) {
    static_cast<std::string*>(file->UserData)->append(reinterpret_cast<const char*>(data),
                                                       static_cast<std::size_t>(length));
    return length;
  };
  int error = 0;
  GifFileType* file = EGifOpen(&out, write_to_string, &error);
  if (file == nullptr) throw std::runtime_error(std::string("GIF: ") + GifErrorString(error));
  ColorMapObject* colours = GifMakeMapObject(palette_size, palette.data());
  bool ok = colours != nullptr &&
            EGifPutScreenDesc(file, picture.width(), picture.height(), 8, white, colours) == GIF_OK &&
            EGifPutImageDesc(file, 0, 0, picture.width(), picture.height(), false, nullptr) == GIF_OK;
  std::vector<GifPixelType> row(static_cast<std::size_t>(picture.width()));
  const auto& pixels = picture.pixels();
  for (int y = 0; ok && y < picture.height(); ++y) {
    const auto start = pixels.begin() + static_cast<std::ptrdiff_t>(y) * picture.width();
    std::copy(start, start + picture.width(), row.begin());
    ok = EGifPutLine(file, row.data(), picture.width()) == GIF_OK;
  }
  if (!ok) error = file->Error;
  GifFreeMapObject(colours);
  int close_error = 0;
  if (EGifCloseFile(file, &close_error) != GIF_OK && ok) {
    ok = false;
    error = close_error;
  }
  if (!ok) throw std::runtime_error(std::string("GIF: ") + GifErrorString(error));
  return out;
}

}  // namespace server
