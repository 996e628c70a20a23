#pragma once

#include <QLabel>

namespace zarv::app {

// A status-line field that shows as much of its text as its room allows, cut
// short with "…"; the whole text is its tooltip and what assistive technology
// reads. The status line is one row high: a long text cannot wrap there.
class ElidingLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ElidingLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    QString fullText() const { return full_text_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void elide();

    QString full_text_;
};

}  // namespace zarv::app
