#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QString>

// A process-wide lookup of images by name. The default factory answers from its own store and,
// for names it does not hold, asks the factories added to it, in the order they were added.
// Used from the GUI thread only; needs no application object.
class ImageSourceFactory
{
public:
    ImageSourceFactory() = default;
    virtual ~ImageSourceFactory();
    ImageSourceFactory(const ImageSourceFactory&) = delete;
    ImageSourceFactory& operator=(const ImageSourceFactory&) = delete;

    // The stored image of that name; the default factory then asks its added factories.
    // A null image when nobody has one.
    virtual QImage data(const QString& name) const;

    void setImage(const QString& name, const QImage& image);

    static ImageSourceFactory* defaultFactory();
    // The default factory does not own the added factories. Adding one twice, adding the
    // default factory itself or removing one that is not added does nothing.
    static void addFactory(ImageSourceFactory* f);
    static void removeFactory(ImageSourceFactory* f);

protected:
    // For subclasses that fill the store from inside data().
    void store(const QString& name, const QImage& image) const { images.insert(name, image); }

private:
    mutable QHash<QString, QImage> images;
    QList<ImageSourceFactory*> added;
};
