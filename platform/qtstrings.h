// The text conversions between the engine's byte strings and Qt's strings.
#pragma once

#include <QString>
#include <string>

namespace quillard {

// Engine texts are bytes: report text is Windows-1252, file names are the
// system's UTF-8. A text that is valid UTF-8 is read as such, any other as
// Windows-1252.
QString FromBytes(const std::string& Bytes);
// Message texts use CR LF between lines; Qt wants line feeds.
QString MessageText(const std::string& Bytes);
// File names between the engine and Qt.
QString PathToQ(const std::string& Path);
std::string PathFromQ(const QString& Path);

}  // namespace quillard
