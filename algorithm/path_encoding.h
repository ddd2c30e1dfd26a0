#pragma once

#include <QString>
#include <string>

// "GBK" byte strings as exchanged with hosts from the platform's home systems.
// Without a GBK codec both return an empty string.
std::string qstring_to_gbk(const QString& text);
QString gbk_to_qstring(const std::string& bytes);

// File names in the platform's own file-name encoding (QFile::encodeName):
// what the standard file functions receive, on every system.
std::string to_native_path(const QString& path);
QString from_native_path(const std::string& path);

// Absolute path of a file as a native byte string.
std::string absolute_native_path(const QString& path);
