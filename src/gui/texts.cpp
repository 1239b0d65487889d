#include "gui/texts.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "core/strings/string_table.h"

namespace qm::gui {

QString qtext(int id) { return QString::fromStdString(text(id)); }

QString fillText(QString text, const QStringList& arguments) {
    static const QRegularExpression placeholder(QStringLiteral("%[sud]"));
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const auto match = placeholder.match(text, from);
        if (!match.hasMatch()) break;
        text.replace(match.capturedStart(), match.capturedLength(), argument);
        from = match.capturedStart() + argument.size();
    }
    return text;
}

QString dialogFilter(int id) {
    const QString filter = qtext(id);
    const QString label = filter.section(QLatin1Char('|'), 0, 0);
    const QString pattern = filter.section(QLatin1Char('|'), 1, 1);
    if (pattern.isEmpty() || label.contains(QLatin1Char('('))) return label;
    return label + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

QString filterPattern(int id) { return qtext(id).section(QLatin1Char('|'), 1, 1); }

namespace {
MessageHook& messageHook() {
    static MessageHook hook;
    return hook;
}
}  // namespace

void setMessageHook(MessageHook hook) { messageHook() = std::move(hook); }

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    if (messageHook() && messageHook()(icon, caption, text)) return;
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

namespace {
QuestionHook& questionHook() {
    static QuestionHook hook;
    return hook;
}
}  // namespace

void setQuestionHook(QuestionHook hook) {
    questionHook() = std::move(hook);
}

int askQuestion(QWidget* parent, const QString& text, const QStringList& buttons, int escape,
                int unattended) {
    if (questionHook()) return questionHook()(text, buttons);
    if (messageHook()) return unattended;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quillmere"), text, QMessageBox::NoButton,
                    parent);
    QList<QAbstractButton*> added;
    for (const QString& caption : buttons) added << box.addButton(caption, QMessageBox::ActionRole);
    if (escape >= 0 && escape < added.size()) box.setEscapeButton(added[escape]);
    if (!added.isEmpty()) box.setDefaultButton(qobject_cast<QPushButton*>(added.front()));
    box.exec();
    const int chosen = static_cast<int>(added.indexOf(box.clickedButton()));
    return chosen >= 0 ? chosen : escape;
}

void showError(QWidget* parent, const QString& text) {
    showMessage(parent, QMessageBox::Critical, QStringLiteral("Quillmere"), text);
}

void showWarning(QWidget* parent, const QString& text) {
    showMessage(parent, QMessageBox::Warning, QStringLiteral("Quillmere"), text);
}

}  // namespace qm::gui
