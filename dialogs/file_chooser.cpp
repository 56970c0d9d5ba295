#include "dialogs/file_chooser.h"

#include <QFileDialog>
#include <QString>
#include <QWidget>

namespace brevak {

namespace {

QString Filter(const FileKind& kind) {
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kind.filter_name), QString::fromUtf8(kind.patterns));
}

std::optional<std::filesystem::path> Chosen(const QString& file) {
  if (file.isEmpty()) return std::nullopt;
  return std::filesystem::path(file.toStdString());
}

}  // namespace

std::optional<std::filesystem::path> QtFileChooser::ChooseOpen(const FileKind& kind) {
  return Chosen(QFileDialog::getOpenFileName(static_cast<QWidget*>(owner_), QString(),
                                             QString::fromStdString(folder_.string()), Filter(kind)));
}

std::optional<std::filesystem::path> QtFileChooser::ChooseSave(const FileKind& kind, const std::u16string& suggested) {
  QFileDialog dialog(static_cast<QWidget*>(owner_), QString(), QString::fromStdString(folder_.string()), Filter(kind));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromUtf8(kind.suffix));
  if (!suggested.empty()) {
    dialog.selectFile(QString::fromUtf16(suggested.data(), qsizetype(suggested.size())) + QLatin1Char('.') +
                      QString::fromUtf8(kind.suffix));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return Chosen(dialog.selectedFiles().first());
}

}  // namespace brevak
