#pragma once
// The preview pane: plain-text documents in the text viewer, everything else in the browser.

#include <QObject>

class Tfrm_cache;

class PreviewPane : public QObject {
    Q_OBJECT
public:
    explicit PreviewPane(Tfrm_cache &form);

    void listerChange(int row);
    void ShowPreview(bool visible);

public slots:
    void m_viewdocClick();
    void AFindInWebExecute();
    void AInternetOptionExecute();
    void ASaveWebasExecute();

private:
    Tfrm_cache &m_form;
};
