#pragma once

#include "NeighborView.h"
#include "ui_NeighborVideo.h"

#include <QDialog>
#include <array>

class QImage;

// The neighbour mosaic: 35 tiles on a grid of 5 columns by 7 rows. The owner sets
// currentIndex to a tile's number k (1 = bottom right, 35 = top left) before each frame that
// updateImage places in that tile.
class NeighborVideo : public QDialog, public Ui::NeighborVideo
{
    Q_OBJECT
public:
    explicit NeighborVideo(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                           Qt::WindowFlags fl = {});
    ~NeighborVideo() override;

    // Tile k, 1 to 35 (neighborView<k>); null for any other k.
    NeighborView* tile(int k) const;

    int currentIndex = 0;

public slots:
    virtual void updateImage(QImage& image);

protected slots:
    virtual void languageChange();

private:
    std::array<NeighborView*, 35> tiles{};
};
