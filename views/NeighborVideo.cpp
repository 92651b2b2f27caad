#include "NeighborVideo.h"

NeighborVideo::NeighborVideo(QWidget* parent, const char* name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setModal(modal);
    setupUi(this);
    languageChange();
    resize(QSize(821, 861).expandedTo(minimumSizeHint()));

    tiles = {neighborView1,  neighborView2,  neighborView3,  neighborView4,  neighborView5,
             neighborView6,  neighborView7,  neighborView8,  neighborView9,  neighborView10,
             neighborView11, neighborView12, neighborView13, neighborView14, neighborView15,
             neighborView16, neighborView17, neighborView18, neighborView19, neighborView20,
             neighborView21, neighborView22, neighborView23, neighborView24, neighborView25,
             neighborView26, neighborView27, neighborView28, neighborView29, neighborView30,
             neighborView31, neighborView32, neighborView33, neighborView34, neighborView35};
}

NeighborVideo::~NeighborVideo() = default;

NeighborView* NeighborVideo::tile(int k) const
{
    return k >= 1 && k <= 35 ? tiles[size_t(k - 1)] : nullptr;
}

void NeighborVideo::updateImage(QImage& image)
{
    NeighborView* view = tile(currentIndex);
    if (!view)
        return;
    // Numbers run 1 to 35 in reading order, left to right and top to bottom.
    view->index = 36 - currentIndex;
    view->setImage(image);
}

void NeighborVideo::languageChange()
{
    retranslateUi(this);
}
