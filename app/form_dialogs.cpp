#include "app/form_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

const char* const kApplicationTitle = "Brelvin Web Server";

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return out;
}

QString MessageBoxText(const std::string& utf8Message) {
  QString text = QString::fromUtf8(utf8Message);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

std::string ErrorBoxText(const std::string& utf8Message) {
  // In UTF-8 every character beyond ASCII ends in a byte of 0x80 or more, so looking at
  // the last byte gives the same answer as looking at the last character.
  if (utf8Message.empty() || static_cast<unsigned char>(utf8Message.back()) <= '.') {
    return utf8Message;
  }
  return utf8Message + ".";
}

namespace {
void ShowBox(QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), text, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
}  // namespace

void QtFormDialogs::ShowMessage(const QString& text) { ShowBox(QMessageBox::NoIcon, text); }

void QtFormDialogs::ShowError(const QString& text) { ShowBox(QMessageBox::Critical, text); }

std::optional<QStringList> QtFormDialogs::GetOpenFileNames(const TOpenDialog& dialog) {
  QFileDialog fileDialog(nullptr);
  fileDialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Qt's dialog takes only existing files when several may be chosen.
  fileDialog.setFileMode(dialog.AllowMultiSelect ? QFileDialog::ExistingFiles
                                                 : QFileDialog::AnyFile);
  const QStringList filters = QtNameFilters(dialog.Filter);
  fileDialog.setNameFilters(filters);
  if (dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size()) {
    fileDialog.selectNameFilter(filters[dialog.FilterIndex - 1]);
  }
  fileDialog.setSizeGripEnabled(true);
  if (fileDialog.exec() != QDialog::Accepted) return std::nullopt;
  return fileDialog.selectedFiles();
}
