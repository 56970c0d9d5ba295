#include "dialogs/file_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <QWidget>

namespace brevak {

namespace {

// Shared by the profile and macro dialogs: a user who exports profiles into a folder finds it
// again when exporting a macro.
QString& LastFolder() {
  static QString folder;
  return folder;
}

QString StartFolder() {
  if (!LastFolder().isEmpty() && QFileInfo(LastFolder()).isDir()) return LastFolder();
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
  return QDir::homePath();
}

QString Filter(const FileKind& kind) {
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kind.filter_name), QString::fromUtf8(kind.patterns));
}

std::optional<std::filesystem::path> Chosen(const QString& file) {
  if (file.isEmpty()) return std::nullopt;
  LastFolder() = QFileInfo(file).absolutePath();
  return std::filesystem::path(file.toStdString());
}

}  // namespace

std::u16string SuggestedFileName(std::u16string_view name) {
  std::u16string safe(name);
  for (char16_t& c : safe) {
    if (c == u'/' || c == u'\\' || c == u'\0') c = u'_';
  }
  if (safe == u"." || safe == u"..") safe = u"_";
  return safe;
}

std::optional<std::filesystem::path> QtFileChooser::ChooseOpen(const FileKind& kind) {
  return Chosen(QFileDialog::getOpenFileName(static_cast<QWidget*>(owner_), QString(), StartFolder(), Filter(kind)));
}

std::optional<std::filesystem::path> QtFileChooser::ChooseSave(const FileKind& kind, const std::u16string& suggested) {
  QFileDialog dialog(static_cast<QWidget*>(owner_), QString(), StartFolder(), Filter(kind));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromUtf8(kind.suffix));
  const std::u16string name = SuggestedFileName(suggested);
  if (!name.empty()) {
    dialog.selectFile(QString::fromUtf16(name.data(), qsizetype(name.size())) + QLatin1Char('.') +
                      QString::fromUtf8(kind.suffix));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return Chosen(dialog.selectedFiles().first());
}

}  // namespace brevak
