#pragma once
// The find-in-page bar of the preview browser: a text to look for, next and previous,
// match case, and the count of matches. Esc or the close button hides it.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QWebEnginePage;
class QWebEngineFindTextResult;

class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(QWidget *parent = nullptr);

    // The page searched; the bar follows the page's answers.
    void setPage(QWebEnginePage *page);
    // Shows the bar with the focus in its text field.
    void start();
    QLineEdit *field() const { return m_field; }
    QCheckBox *matchCase() const { return m_matchCase; }
    QLabel *result() const { return m_result; }

public slots:
    void findNext();
    void findPrevious();
    void close();
    // Searches from the start again, as after a change of the options.
    void restart();

private:
    void find(bool backward);
    void showResult(const QWebEngineFindTextResult &result);

    QWebEnginePage *m_page = nullptr;
    QLineEdit *m_field;
    QCheckBox *m_matchCase;
    QLabel *m_result;
};
