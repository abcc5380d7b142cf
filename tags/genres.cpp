// SPDX-License-Identifier: MIT
#include "tags/genres.h"

#include <array>

#include "tags/id3.h"

namespace pellora::tags {
namespace {

// Numbers 0..147 in order: the ID3v1 genres and their common extensions.
constexpr std::array<std::u16string_view, 148> kGenres = {
    u"Blues", u"Classic Rock", u"Country", u"Dance", u"Disco", u"Funk", u"Grunge", u"Hip-Hop", u"Jazz",
    u"Metal", u"New Age", u"Oldies", u"Other", u"Pop", u"R&B", u"Rap", u"Reggae", u"Rock", u"Techno",
    u"Industrial", u"Alternative", u"Ska", u"Death Metal", u"Pranks", u"Soundtrack", u"Euro-Techno",
    u"Ambient", u"Trip-Hop", u"Vocal", u"Jazz+Funk", u"Fusion", u"Trance", u"Classical", u"Instrumental",
    u"Acid", u"House", u"Game", u"Sound Clip", u"Gospel", u"Noise", u"AlternRock", u"Bass", u"Soul",
    u"Punk", u"Space", u"Meditative", u"Instrumental Pop", u"Instrumental Rock", u"Ethnic", u"Gothic",
    u"Darkwave", u"Techno-Industrial", u"Electronic", u"Pop-Folk", u"Eurodance", u"Dream",
    u"Southern Rock", u"Comedy", u"Cult", u"Gangsta", u"Top 40", u"Christian Rap", u"Pop/Funk", u"Jungle",
    u"Native American", u"Cabaret", u"New Wave", u"Psychedelic", u"Rave", u"Showtunes", u"Trailer",
    u"Lo-Fi", u"Tribal", u"Acid Punk", u"Acid Jazz", u"Polka", u"Retro", u"Musical", u"Rock & Roll",
    u"Hard Rock", u"Folk", u"Folk-Rock", u"National Folk", u"Swing", u"Fast Fusion", u"Bebob", u"Latin",
    u"Revival", u"Celtic", u"Bluegrass", u"Avantgarde", u"Gothic Rock", u"Progressive Rock",
    u"Psychedelic Rock", u"Symphonic Rock", u"Slow Rock", u"Big Band", u"Chorus", u"Easy Listening",
    u"Acoustic", u"Humor", u"Speech", u"Chanson", u"Opera", u"Chamber Music", u"Sonata", u"Symphony",
    u"Booty Bass", u"Primus", u"Porn Groove", u"Satire", u"Slow Jam", u"Club", u"Tango", u"Samba",
    u"Folklore", u"Ballad", u"Power Ballad", u"Rhythmic Soul", u"Freestyle", u"Duet", u"Punk Rock",
    u"Drum Solo", u"A Cappella", u"Euro-House", u"Dance Hall", u"Goa", u"Drum & Bass", u"Club-House",
    u"Hardcore", u"Terror", u"Indie", u"BritPop", u"Negerpunk", u"Polsk Punk", u"Beat",
    u"Christian Gangsta Rap", u"Heavy Metal", u"Black Metal", u"Crossover", u"Contemporary Christian",
    u"Christian Rock", u"Merengue", u"Salsa", u"Thrash Metal", u"Anime", u"JPop", u"Synthpop"};

constexpr std::int32_t kCover = -2, kRemix = -1, kOther = 12, kUnknown = 255;

std::u16string RemoveAll(std::u16string text, std::u16string_view piece) {
  for (std::size_t at = text.find(piece); at != std::u16string::npos; at = text.find(piece, at))
    text.erase(at, piece.size());
  return text;
}

bool IsBlankText(std::u16string_view text) { return text.find_first_not_of(u' ') == std::u16string_view::npos; }

}  // namespace

std::u16string GenreName(std::int32_t genre_id) {
  if (genre_id == kCover) return u"Cover";
  if (genre_id == kRemix) return u"Remix";
  if (genre_id == kUnknown) return u"Unknown";
  if (genre_id >= 0 && genre_id < std::int32_t(kGenres.size())) return std::u16string(kGenres[genre_id]);
  return {};
}

std::u16string NormalizeGenre(std::u16string_view text) {
  std::u16string key(text);
  for (std::u16string_view piece : {u"/", u" and ", u"&", u"-", u"+", u" "}) key = RemoveAll(std::move(key), piece);
  for (char16_t& c : key)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return key;
}

std::int32_t ToGenreID(std::u16string_view genre) {
  if (IsBlankText(genre)) return kUnknown;
  const std::u16string key = NormalizeGenre(genre);
  for (std::int32_t id = kCover; id < std::int32_t(kGenres.size()); ++id)
    if (NormalizeGenre(GenreName(id)) == key) return id;
  if (NormalizeGenre(GenreName(kUnknown)) == key) return kUnknown;
  return kOther;
}

std::u16string clsID3::GenreName(std::int32_t genre_id) { return tags::GenreName(genre_id); }
std::int32_t clsID3::ToGenreID(std::u16string_view genre) { return tags::ToGenreID(genre); }

}  // namespace pellora::tags
