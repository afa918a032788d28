// The save button: the input checks, then decode, scale, encode and write.
#include "save/save.h"

namespace save {
namespace {

SaveOutcome Failure(std::string text) {
    return {{std::move(text), msgbox::kStopIcon, std::string(msgbox::kErrorTitle)}, {}};
}

std::string WriteFailureText(const WriteResult& result, const std::string& folder, const std::string& path) {
    switch (result.error) {
    case WriteError::FolderMissing: return std::string(kFolderMissingText) + folder;
    case WriteError::NotAFolder: return std::string(kNotAFolderText) + folder;
    case WriteError::FolderNotWritable: return std::string(kFolderNotWritableText) + folder;
    case WriteError::DiskFull: return std::string(kDiskFullText) + path;
    case WriteError::None:
    case WriteError::WriteFailed: break;
    }
    return std::string(kWriteFailedText) + path;
}

}  // namespace

std::optional<Image> PictureToSave(const Bytes& picture, std::string_view widthText, std::string_view heightText) {
    std::optional<Image> image = DecodeImage(picture);
    if (!image) return std::nullopt;
    if (const auto size = RequestedPictureSize(widthText, heightText);
        size && (size->width != image->width || size->height != image->height))
        image = ScaleNearest(*image, size->width, size->height);
    return image;
}

SaveOutcome SavePicture(const SaveRequest& request, const std::function<std::tm()>& now) {
    if (request.picture.empty()) return Failure(std::string(kNoPictureText));
    if (request.widthText.empty()) return Failure(std::string(kNoSizeText));
    if (request.folder.empty()) return Failure(std::string(kNoFolderText));
    const std::optional<ImageFormat> format = ParseImageFormat(request.format);
    if (!format) return Failure(std::string(kNoFormatText));

    const std::string path = SavedFilePath(request.folder, now(), *format);
    const std::optional<Image> image = PictureToSave(request.picture, request.widthText, request.heightText);
    if (!image) return Failure(std::string(kNotAnImageText));

    // Only memory can make encoding a well-formed image fail.
    const std::optional<Bytes> encoded = EncodeImage(*image, *format);
    if (!encoded) return Failure(std::string(kWriteFailedText) + path);
    const WriteResult written = WriteFileAtomically(path, *encoded);
    if (!written.ok()) return Failure(WriteFailureText(written, request.folder, path));
    return {{std::string(kSavedText), msgbox::kInformationIcon, std::string(kNoticeTitle)}, path};
}

}  // namespace save
