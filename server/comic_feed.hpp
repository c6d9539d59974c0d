// A comic's Atom feed: its latest strips, one entry per day, for feed
// readers to follow the comic.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/comics.hpp"
#include "server/strip_source.hpp"

namespace server {

inline constexpr std::string_view feed_type = "application/atom+xml";
// Entries in a feed: the latest days.
inline constexpr std::size_t feed_entries = 30;

// The feed at /SECTION/KEY/archive/feed.atom. Its links are relative to it,
// since the server does not know the name it is reached by; the ids are
// tag URIs that stay the same wherever it is reached.
std::string comic_feed(const app::TComic& comic, const strip_source& source);

}  // namespace server
