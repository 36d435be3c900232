// What a container says of the media it holds, for the record of a run:
// the digests it stores and the acquisition details it carries (an EWF
// set's header values), and whether the media read matched the digest.
#ifndef BFSSCAN_MEDIA_RECORD_H
#define BFSSCAN_MEDIA_RECORD_H

#include <string>

struct MediaRecord {
  std::string storedMd5, storedSha1;  // lower-case hexadecimal; empty when none
  std::string caseNumber, evidenceNumber, examiner, description, acquired;
};

// After Image::verifyMedia: whether the media read was compared with a
// stored digest, and with what outcome.
enum class MediaVerdict { kNotChecked, kMatches, kDiffers };

#endif  // BFSSCAN_MEDIA_RECORD_H
