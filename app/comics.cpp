// The comic catalogue.
#include "app/comics.hpp"

#ifndef QUORVEL_BASE_URL
#define QUORVEL_BASE_URL "http://localhost:8642"
#endif

namespace app {
namespace {
constexpr std::string_view base = QUORVEL_BASE_URL;
}  // namespace

const std::array<TComic, comic_count> Comics = {{
    {"ap", base, "amberpike", "Amber Pike", "comics"},
    {"bw", base, "bennywren", "Benny && Wren", "comics"},
    {"cv", base, "clover", "Clover", "comics"},
    {"dk", base, "dustykid", "Dusty Kid", "comics"},
    {"fm", base, "foglemen", "The Fogle Men", "comics"},
    {"gd", base, "gadgets", "The Gadgets", "comics"},
    {"hn", base, "hinged", "Hinged", "comics"},
    {"qv", base, "quorvel", "Quorvel", "comics"},
    {"jb", base, "jobble", "Jobble", "comics"},
    {"kp", base, "kipnpeck", "Kip && Peck", "comics"},
    {"lm", base, "lessmore", "Less or More Today", "comics"},
    {"mo", base, "mortnotto", "Mort && Otto", "comics"},
    {"nb", base, "nettlebys", "The Nettlebys", "comics"},
    {"os", base, "oswald", "Oswald", "comics"},
    {"pl", base, "parkline", "Park Line", "comics"},
    {"rt", base, "rivetncat", "Rivet'N' Cat", "comics"},
    {"sa", base, "sabra", "Sabra", "comics"},
    {"tb", base, "tobble", "Tobble", "comics"},
    {"vh", base, "vinehall", "Vinehall Nights", "comics"},
    {"wi", base, "wim", "Wim!", "comics"},
    {"yd", base, "yodie", "Yodie", "comics"},
    {"uz", base, "zephyr", "Under the Zephyr", "comics"},
    {"ck", base, "cricket", "Cricket", "comics"},
    {"fc", base, "factor", "Factor Check", "comics"},
    {"dk", base, "marvels", "Marvels Told or Untold!", "comics"},
    {"gm", base, "gearman", "Gearman", "comics"},
    {"ll", base, "lilyislily", "Lily Is Lily", "comics"},
    {"tu", base, "tundra", "Tundra", "comics"},
    {"pi", base, "pip", "Pip", "comics"},
    {"ow", base, "owlfred", "Owlfred", "partner"},
}};

}  // namespace app
