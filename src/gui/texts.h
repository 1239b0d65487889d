// Interface texts for the Qt windows: string-table texts as QStrings, placeholders filled,
// and the "text|pattern" filters of the file dialogs in Qt's form.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace qm::gui {

QString qtext(int id);
// The text with its first "%s" (or "%u", "%d") replaced by each argument in turn.
QString fillText(QString text, const QStringList& arguments);
// "Bitmap 24 bits (*.bmp)|*.bmp" as a Qt file-dialog filter: "Bitmap 24 bits (*.bmp)".
QString dialogFilter(int id);
// The pattern part of such a filter ("*.bmp").
QString filterPattern(int id);

// Message boxes with an OK button. A hook, when set, sees every box first and may take it
// (returns true): tests read the texts instead of clicking.
using MessageHook = std::function<bool(QMessageBox::Icon, const QString& caption, const QString& text)>;
void setMessageHook(MessageHook hook);
void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text);
// The program's own boxes, captioned "Quillmere".
void showError(QWidget* parent, const QString& text);
void showWarning(QWidget* parent, const QString& text);

// A question captioned "Quillmere" with its buttons; the index of the button chosen, or
// `escape` when the box is closed. A question hook, when set, answers instead (tests). Without
// one, a program whose messages a message hook takes has nobody to ask: `unattended` answers.
using QuestionHook = std::function<int(const QString& text, const QStringList& buttons)>;
void setQuestionHook(QuestionHook hook);
int askQuestion(QWidget* parent, const QString& text, const QStringList& buttons, int escape,
                int unattended);

}  // namespace qm::gui
