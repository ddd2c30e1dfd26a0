#include "algorithm/path_encoding.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

std::string qstring_to_gbk(const QString& text) {
    QTextCodec* codec = QTextCodec::codecForName("GBK");
    if (codec == nullptr)
        return std::string();
    const QByteArray bytes = codec->fromUnicode(text);
    return std::string(bytes.constData()); // up to the first zero byte
}

QString gbk_to_qstring(const std::string& bytes) {
    QTextCodec* codec = QTextCodec::codecForName("GBK");
    if (codec == nullptr)
        return QString();
    return codec->toUnicode(bytes.data(), static_cast<int>(bytes.size()));
}

std::string to_native_path(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData());
}

QString from_native_path(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<int>(path.size())));
}

std::string absolute_native_path(const QString& path) {
    return to_native_path(QFileInfo(path).absoluteFilePath());
}
