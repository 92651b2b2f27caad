#pragma once

#include "CoordinateTriple.h"
#include "Generation.h"
#include "JobPointFiles.h"
#include "MyHTTP.h"
#include "MyWebJPEG.h"

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

struct FiducialFile;
class QMouseEvent;
class QPaintEvent;

// A window onto the whole-slide image, centred on a stage position (the location). The slide's
// fiducial calibration maps stage coordinates to image pixels and back; dragging moves the
// location at twice the mouse distance. Point lists of a slide or of a job are drawn as dots.
// The view fetches, draws and handles the mouse, samples a job's grid and tests it for tissue;
// the fiducial file is read by FiducialFile, the point lists by PointList, and the files of
// "library" jobs are JobPointFiles'.
class HighResPreview : public QWidget
{
    Q_OBJECT
public:
    // Nominal size of the whole-slide image; the view's clamps assume it whatever arrives.
    static constexpr int ImageWidth = 3060;
    static constexpr int ImageHeight = 2036;

    explicit HighResPreview(QWidget* parent = nullptr, const char* name = nullptr);
    ~HighResPreview() override;

    void setServer(QString host);

    // Stage to image pixel, clamped so that a view centred there stays on the image: for
    // centring the view only.
    QPoint physicalToPixel(const CoordinateTriple& t);
    // Stage to image pixel without the clamp: for everything drawn, tested or measured on
    // the image.
    QPoint physicalToImagePixel(const CoordinateTriple& t) const;
    // Image pixel to stage (z = 0); no clamp.
    CoordinateTriple pixelToPhysical(const QPoint& p) const;

    void markPoint(float x, float y);
    void redraw();

    // Set from outside. The job and the microscope are named as the host named them: those
    // bytes go into the requests (see HostBytes).
    bool corner1Set = false;
    bool corner2Set = false;
    bool slideListMode = false;
    bool jobListMode = false;
    QByteArray jobId;
    // The slide of jobId: in job-list mode the job's dots are drawn on that slide only.
    QByteArray jobSlide;
    QByteArray fiducialTag;
    bool showSelection = false;

    bool haveNewFiducials = false;
    MyWebJPEG jpeg;
    // One copy of the slide is kept: backup holds it; pixmap shares it until an overlay or a
    // mark is drawn on it; slideImage shares it for the tissue test and is dropped whenever
    // backup changes. All three are of the current slide, under its own calibration: a slide
    // change drops them, and the view shows no picture until the new slide's picture and
    // calibration are both in.
    QImage slideImage;
    QPixmap pixmap;             // the image as shown, with everything drawn on it
    QPixmap backup;             // the image with the point-list dots only
    CoordinateTriple location;
    CoordinateTriple corner1;
    CoordinateTriple corner2;
    QPoint pressPos;
    QPoint pressPixel;
    QPoint selA;
    QPoint selB;
    MyHTTP newFiducials;
    MyHTTP oldFiducials;
    MyHTTP counts1;
    MyHTTP counts2;

    // Calibration in force.
    double angle = 0;
    double pixelWidth = ImageWidth;
    double pixelHeight = ImageHeight;
    float slideWidthMm = 75.67f;
    float slideHeightMm = 50.325f;
    double originX = 0;
    double originY = 0;
    QPoint fiducialTopLeft;
    QPoint fiducialTopRight;
    QPoint fiducialBottomLeft;
    QPoint fiducialBottomRight;

    QVector<QPoint> list1;      // red dots, image pixels: those that touch the image, once each
    QVector<QPoint> list2;      // green dots, the same
    QString slideName;          // the slide shown, as shown
    QByteArray slideWireName;   // the same, as the host named it
    QString server;
    int linearDensity = 1;

    // What buildJobPoints did; jobPointsProblem gives the reason to show for a failure.
    using JobPoints = JobPointFiles::Result;
    static constexpr double MaxJobPoints = 1e7;
    // The warning text for a result that failed; empty for Listed and Written.
    static QString jobPointsProblem(JobPoints result) { return JobPointFiles::problem(result); }
    // The same for the last buildJobPoints, with the file and the system's reason when the files
    // could not be written.
    QString jobPointsMessage(JobPoints result) const;

    // The current slide's own calibration has been read (or fallen back to): until then the
    // previous slide's is in force.
    bool calibrationRead() const { return calibrationCurrent; }
    // The neighbour mosaic's rectangle in stage units, drawn centred on the view.
    void setSelection(float x1, float y1, float x2, float y2);
    // Tissue unless the slide image is near-white there; outside the image, or with no image
    // of the current slide, a point counts as tissue.
    bool hasTissue(CoordinateTriple t) const;
    // Samples the grid of corners c1 to c2 (mm) at `density` samples per mm on the slide
    // image: tissue points are appended to good and blank ones to bad as "x,y;"; under the
    // login "library" they go to the two point files under jobFilesDir instead, and on
    // success "Job waiting." is shown here. The caller shows jobPointsProblem of any failure.
    [[nodiscard]] JobPoints buildJobPoints(CoordinateTriple c1, CoordinateTriple c2, int density, QString login,
                                           QString jobName, QString strain, QString& good, QString& bad);

    // The point files of "library" jobs go to <dir>/jobs/ and <dir>/bad_lib/.
    QString jobFilesDir = JobPointFiles::defaultDir();
    // A slide named by the host: exactly these bytes go into the requests.
    void slideChange(const QByteArray& wireSlide);

public slots:
    // A slide named as text: its UTF-8 form goes into the requests.
    void slideChange(QString& slide);
    void setLocation(CoordinateTriple& t);
    void loadFiducials();
    void loadStatus();
    void markUpPixmap();
    // Corners of the acquisition rectangle in mm (x, y), stored in stage units.
    void setCorner1(CoordinateTriple t);
    void setCorner2(CoordinateTriple t);
    void setLinearDensity(int d);
    // Draws the corner labels, and with both corners the rectangle and its sampling grid.
    void updateSelection();

protected slots:
    void loadPixmap(QPixmap& pm);

signals:
    void locationChanged(CoordinateTriple& location);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void requestImage();
    void requestFiducials();
    void requestLists();
    void useFallbackCalibration();
    void useCalibration(const FiducialFile& file);
    void drawLists();
    // The arrived picture becomes the one shown (no redraw).
    void showArrived();
    // The view shows no picture and no dots.
    void dropPicture();
    // pixmap takes its own copy of the slide before something is drawn on it over backup.
    void detachOverlay();

    QString host;

    // A picture or calibration still on its way is abandoned for the current slide's, so
    // neither of an earlier slide ever arrives.
    QByteArray fiducialSlide;   // the slide whose fiducial files are being fetched

    // Each slide change and each slide image that arrives starts a new generation of point
    // lists; a pair is drawn only for the generation it was sent for, once both have arrived.
    Generation lists;
    bool listsPending = false;
    bool listsOfSlide = false;  // the lists on their way belong to the slide shown
    bool slideImageIn = false;  // the current slide's image has arrived
    QPixmap arrived;            // that image, while the slide's calibration is still on its way

    // The dots are drawn once per image, on backup itself, when both the image's lists (read
    // from counts1 and counts2 in place) and the slide's calibration are in.
    bool haveLists = false;
    bool calibrationCurrent = false;
    bool dotsDrawn = false;

    QString jobFilesFailure;    // of the last job whose files could not be written
};
