// The Atom feed of one comic.
#include "server/comic_feed.hpp"

#include "server/comic_site.hpp"

namespace server {
namespace {

// "2024-03-05T00:00:00Z": a day as an Atom date.
std::string atom_date(day d) { return iso_date(d) + "T00:00:00Z"; }

std::string tag(const app::TComic& comic, std::string_view rest) {
  return "tag:quorvel.localhost,2026:" + std::string(comic.Key) + std::string(rest);
}

std::string entry(const app::TComic& comic, day d) {
  const std::string title = display_title(comic.Title);
  const std::string page = day_path(comic, d);
  const std::string image = image_path(comic, strip_name(comic, d));
  // The entry's content is HTML, escaped once more for the XML around it.
  const std::string content = "<p><a href=\"" + page + "\"><img src=\"" + image + "\" alt=\"" +
                              escape_html(title + ", " + calendar_date(d)) + "\"></a></p>";
  return "<entry>\n<id>" + tag(comic, "/" + compact_date(d)) + "</id>\n<title>" +
         escape_html(title + ", " + long_date(d)) + "</title>\n<updated>" + atom_date(d) +
         "</updated>\n<link rel=\"alternate\" type=\"text/html\" href=\"" + page +
         "\"/>\n<content type=\"html\">" + escape_html(content) + "</content>\n</entry>\n";
}

}  // namespace

std::string comic_feed(const app::TComic& comic, const strip_source& source) {
  const comic_days held = source.days(comic);
  const std::string title = display_title(comic.Title);
  std::string feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n<id>" + tag(comic, "") +
                     "</id>\n<title>" + escape_html(title) + "</title>\n<updated>" +
                     // A feed without entries is as old as the oldest date there is.
                     (held.empty() ? std::string("0001-01-01T00:00:00Z") : atom_date(held.last())) +
                     "</updated>\n<author><name>The quorvel comics site</name></author>\n"
                     "<link rel=\"self\" type=\"application/atom+xml\" href=\"" +
                     feed_path(comic) + "\"/>\n<link rel=\"alternate\" type=\"text/html\" href=\"" +
                     calendar_path(comic) + "\"/>\n";
  std::size_t written = 0;
  for (auto d = held.days.rbegin(); d != held.days.rend() && written < feed_entries; ++d, ++written)
    feed += entry(comic, *d);
  return feed + "</feed>\n";
}

}  // namespace server
