// The checks that a cloning or imaging run must pass before the copy engine starts, and their
// messages. Each check returns the message to show, or an empty string when the input passes;
// the Windows pages and kavo-cli show the same texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kavo {

// Texts of the setup: questions, titles and the messages of the checks below.
inline constexpr char16_t kConfirmCloning[] =
    u"Are you sure for selected source drive and destination drive ?";
inline constexpr char16_t kConfirmImaging[] =
    u"Are you sure for selected source drive and destination path ?";
inline constexpr char16_t kFailedToOpenSource[] = u"Failed to open source disk.";
inline constexpr char16_t kFailedToOpenDestination[] = u"Failed to open destination disk.";
inline constexpr char16_t kFailedToOpenDisk[] = u"Failed to open disk.";
inline constexpr char16_t kInsufficientSpace[] =
    u"Insufficient space. Please choose other destination.";
inline constexpr char16_t kSameSourceAndDestination[] =
    u"Source and destination drive can not be same.";
inline constexpr char16_t kDifferentSectorSizes[] =
    u"Source and destination drive have different sector sizes. Please choose other destination.";
inline constexpr char16_t kContinueImage[] =
    u"This image was started before. Do you want to continue it ? (No starts it over.)";
inline constexpr char16_t kMapDoesNotFit[] =
    u"The map of this image does not fit the selected drive. Please choose other destination.";
inline constexpr char16_t kRetryNote[] =
    u"Note: Too many attempts for bad sectors may damage the disk.";

// The cloning page's choice of source and destination list rows (nothing: no row chosen).
std::u16string CheckCloneSelection(std::optional<int> source, std::optional<int> destination);

// The range of a clone that does not cover the whole source, as typed: the source start, the
// destination start and the number of sectors, against the two devices' sector counts.
struct CloneRange {
  std::u16string message;    // empty when the range is accepted
  uint64_t sourceStart = 0;  // set when accepted
  uint64_t destinationStart = 0;
  uint64_t sourceEnd = 0;  // one past the last source sector
};

// Empty fields, and numbers that are not plain decimal (signs, letters, values past 2^63 - 1),
// are refused with the field's message. A start equal to the sector count is accepted as a
// start; the range it begins must still lie on the source, and the sectors it maps to on the
// destination: a range running past the end of either is refused ("Please enter valid number of
// sectors to be copied." for the source, the space message for the destination).
CloneRange CheckCloneRange(const std::u16string& sourceStart,
                           const std::u16string& destinationStart, const std::u16string& count,
                           uint64_t sourceSectors, uint64_t destinationSectors);

// A clone writes each source sector to the destination sector of the same number: both drives
// must have sectors of one size (bytes; 0 when a drive could not tell).
std::u16string CheckCloneSectorSizes(uint32_t source, uint32_t destination);

// A destination drive smaller than the source drive is refused, whatever the range.
std::u16string CheckCloneSpace(uint64_t sourceBytes, uint64_t destinationBytes);

// The imaging page: a source row and a destination path must be chosen.
std::u16string CheckImageSelection(bool sourceChosen, const std::u16string& path);

// The free space where the image goes (bytes the caller may still write there) against the size
// of the source.
std::u16string CheckImageSpace(uint64_t sourceBytes, uint64_t freeBytes);

// The room for an image at `path`: the bytes the caller may still write in its folder, plus the
// size of a file already there (it is truncated when the image is made). Nothing when the folder
// cannot be asked.
std::optional<uint64_t> ImageRoom(const std::filesystem::path& path);

// The image path chosen in the save dialog, with ".img" appended unless it ends with exactly
// ".img" ("backup.IMG" becomes "backup.IMG.img").
std::u16string ImagePathWithExtension(const std::u16string& path);

// The retry counts the cloning page offers: 2, 3 or 5.
bool IsCloneRetryChoice(int attempts);

// A drive's row in the source and destination lists: its model, ":  <serial> \r\n" and its
// size in GB, MB or KB with two decimals.
std::u16string DriveItemText(const std::u16string& model, const std::u16string& serial,
                             uint64_t sizeBytes);

}  // namespace kavo
