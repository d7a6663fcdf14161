#pragma once

#include <QFrame>
#include <cstdint>

// A colour swatch of the settings page: it shows its back colour (0x00BBGGRR,
// system colour references allowed) and carries a font of its own, which is the
// caption font when the swatch is the text-colour swatch.
class cColorSwatch : public QFrame
{
    Q_OBJECT

public:
    explicit cColorSwatch(QWidget *parent = nullptr);

    std::uint32_t BackColor() const { return m_lBackColor; }
    void setBackColor(std::uint32_t lColor);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::uint32_t m_lBackColor = 0xFFFFFF;
};
