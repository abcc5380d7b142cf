// SPDX-License-Identifier: MIT
#pragma once
// The tag items of the tag store, in their declared order. The list drives the
// properties of clsID3, lookups by name and every listing (JSON, tables).
//
// X(Name) for each text item; GenreID (a number) sits between Composer and Genre
// in the declared order and is listed separately.
#define PELLORA_ID3_TEXT_ITEMS(X) \
  X(Comments)                     \
  X(Album)                        \
  X(BeatsPerMinute)               \
  X(Composer)                     \
  X(Genre)                        \
  X(Copyright)                    \
  X(EncodedBy)                    \
  X(Lyricist)                     \
  X(Title)                        \
  X(InitialKey)                   \
  X(Languages)                    \
  X(OriginalAlbum)                \
  X(OriginalFileName)             \
  X(OriginalLyricist)             \
  X(OriginalArtist)               \
  X(OriginalReleaseYear)          \
  X(FileOwner)                    \
  X(Artist)                       \
  X(Band)                         \
  X(Conductor)                    \
  X(InterpretedBy)                \
  X(DiscNumber)                   \
  X(DiscsTotal)                   \
  X(Publisher)                    \
  X(TrackNumber)                  \
  X(TracksTotal)                  \
  X(InternetRadioStationName)     \
  X(InternetRadioStationOwner)    \
  X(ISRC)                         \
  X(Year)                         \
  X(Lyrics)                       \
  X(CopyrightInfo)                \
  X(AudioURL)                     \
  X(AudioSourceURL)               \
  X(InternetRadioURL)             \
  X(PaymentURL)                   \
  X(PublisherURL)

namespace pellora::tags {

enum class TextItem : int {
#define PELLORA_ITEM_ENUM(name) name,
  PELLORA_ID3_TEXT_ITEMS(PELLORA_ITEM_ENUM)
#undef PELLORA_ITEM_ENUM
};

inline constexpr int kTextItemCount = 0
#define PELLORA_ITEM_COUNT(name) +1
    PELLORA_ID3_TEXT_ITEMS(PELLORA_ITEM_COUNT)
#undef PELLORA_ITEM_COUNT
    ;

}  // namespace pellora::tags
