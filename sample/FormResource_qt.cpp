#include "Forms.h"

#include <QFile>

#include <stdexcept>

std::string LoadFormResource(std::string_view resourceName) {
    QFile file(QStringLiteral(":/") +
               QString::fromUtf8(resourceName.data(), static_cast<qsizetype>(resourceName.size())));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("the program carries no resource \"" + std::string(resourceName) + "\"");
    return file.readAll().toStdString();
}
