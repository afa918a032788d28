// The converter: the saved formats read back byte by byte, and the sources
// it reads.
#include "fixtures.h"
#include "save/save.h"

#include <QtTest>

#include <array>
#include <map>

using fixtures::Bytes;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(save::Image)

namespace {

Bytes Rgb(std::initializer_list<std::uint8_t> values) {
    return Bytes(values);
}

std::uint32_t U32Big(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
}

unsigned U16Big(const Bytes& bytes, std::size_t at) {
    return unsigned{bytes[at]} << 8 | bytes[at + 1];
}

// Six distinct colours on an odd width, so padding and row order show.
save::Image ThreeByTwo() {
    return fixtures::MakeImage(3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x102030, 0x405060, 0x708090});
}

// Bits counts of the typical Huffman tables of the JPEG standard (Annex K),
// which libjpeg uses unless it optimises them; by (class << 4 | id).
const std::map<int, std::array<std::uint8_t, 16>> kStandardHuffmanBits = {
    {0x00, {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}},
    {0x01, {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}},
    {0x10, {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D}},
    {0x11, {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}},
};

}  // namespace

class TestImageCodec : public QObject {
    Q_OBJECT

private slots:
    void jpegStructure() {
        const save::Image image = fixtures::QrLikeImage(37, 4);
        const std::optional<Bytes> jpeg = save::EncodeImage(image, save::ImageFormat::Jpeg);
        QVERIFY(jpeg);
        const auto segments = fixtures::ReadJpegSegments(*jpeg);
        QVERIFY(segments);
        QVERIFY(segments->size() > 4);
        QCOMPARE(segments->front().marker, 0xD8);  // SOI
        QCOMPARE(segments->back().marker, 0xD9);   // EOI

        const fixtures::JpegSegment& app0 = (*segments)[1];
        QCOMPARE(app0.marker, 0xE0);
        QVERIFY(app0.data.size() >= 7);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(app0.data.data()), 5), QByteArray("JFIF\0", 5));

        int frames = 0, quantTables = 0;
        std::map<int, bool> huffmanTables;  // id -> differs from the standard table
        for (const fixtures::JpegSegment& segment : *segments) {
            const Bytes& d = segment.data;
            if (segment.marker >= 0xC1 && segment.marker <= 0xCF && segment.marker != 0xC4 && segment.marker != 0xC8 &&
                segment.marker != 0xCC)
                QFAIL(qPrintable(QString("not baseline: SOF marker 0xFF%1").arg(segment.marker, 2, 16)));
            if (segment.marker == 0xC0) {
                ++frames;
                QCOMPARE(d.size(), std::size_t{6 + 3 * 3});
                QCOMPARE(d[0], 8);  // sample precision
                QCOMPARE(U16Big(d, 1), 37u);
                QCOMPARE(U16Big(d, 3), 37u);
                QCOMPARE(d[5], 3);  // components
                for (int c = 0; c < 3; ++c)
                    QCOMPARE(d[6 + 3 * c], c + 1);  // component ids Y, Cb, Cr
            } else if (segment.marker == 0xDB) {
                for (std::size_t at = 0; at < d.size(); at += 65) {
                    ++quantTables;
                    QCOMPARE(d[at] >> 4, 0);  // 8-bit entries
                    QVERIFY(at + 65 <= d.size());
                    for (int i = 1; i <= 64; ++i)
                        QCOMPARE(d[at + i], 1);
                }
            } else if (segment.marker == 0xC4) {
                for (std::size_t at = 0; at < d.size();) {
                    QVERIFY(at + 17 <= d.size());
                    const int id = d[at];
                    QVERIFY(kStandardHuffmanBits.count(id));
                    std::array<std::uint8_t, 16> bits{};
                    int symbols = 0;
                    for (int i = 0; i < 16; ++i)
                        symbols += bits[i] = d[at + 1 + i];
                    huffmanTables[id] = bits != kStandardHuffmanBits.at(id);
                    at += 17 + symbols;
                }
            }
        }
        QCOMPARE(frames, 1);
        QCOMPARE(quantTables, 2);
        QCOMPARE(huffmanTables.size(), std::size_t{4});
        for (const auto& [id, differs] : huffmanTables)
            QVERIFY2(differs, qPrintable(QString("Huffman table 0x%1 is the standard one").arg(id, 2, 16)));

        // Quality 100 keeps black and white modules within a few levels.
        const std::optional<save::Image> decoded = save::DecodeImage(*jpeg);
        QVERIFY(decoded);
        QCOMPARE(decoded->width, 37);
        QCOMPARE(decoded->height, 37);
        for (std::size_t i = 0; i < image.rgb.size(); ++i)
            QVERIFY2(std::abs(decoded->rgb[i] - image.rgb[i]) <= 8, qPrintable(QString("byte %1").arg(i)));
    }

    void pngStructure_data() {
        QTest::addColumn<save::Image>("image");
        QTest::newRow("3x2 colours") << ThreeByTwo();
        QTest::newRow("QR-like 37x37") << fixtures::QrLikeImage(37, 4);
    }
    void pngStructure() {
        QFETCH(save::Image, image);
        const std::optional<Bytes> png = save::EncodeImage(image, save::ImageFormat::Png);
        QVERIFY(png);
        const auto chunks = fixtures::ReadPngChunks(*png);
        QVERIFY(chunks);
        QStringList types;
        for (const fixtures::PngChunk& chunk : *chunks)
            if (types.isEmpty() || types.back() != QString::fromStdString(chunk.type))
                types << QString::fromStdString(chunk.type);
        QCOMPARE(types, QStringList({"IHDR", "IDAT", "IEND"}));  // consecutive IDATs count once

        const Bytes& ihdr = chunks->front().data;
        QCOMPARE(ihdr.size(), std::size_t{13});
        QCOMPARE(U32Big(ihdr, 0), std::uint32_t(image.width));
        QCOMPARE(U32Big(ihdr, 4), std::uint32_t(image.height));
        QCOMPARE(ihdr[8], 8);   // bit depth
        QCOMPARE(ihdr[9], 2);   // colour type RGB
        QCOMPARE(ihdr[10], 0);  // compression
        QCOMPARE(ihdr[11], 0);  // filter method
        QCOMPARE(ihdr[12], 1);  // Adam7

        const std::optional<save::Image> decoded = save::DecodeImage(*png);
        QVERIFY(decoded);
        QCOMPARE(decoded->rgb, image.rgb);
    }

    void bmpStructure() {
        const std::optional<Bytes> bmp = save::EncodeImage(ThreeByTwo(), save::ImageFormat::Bmp);
        QVERIFY(bmp);
        // clang-format off
        const Bytes expected = {
            'B', 'M', 78, 0, 0, 0,  // file size 54 + 2 rows of 12
            0, 0, 0, 0,             // reserved
            54, 0, 0, 0,            // pixel data offset
            40, 0, 0, 0,            // info header size
            3, 0, 0, 0, 2, 0, 0, 0, // width, positive height
            1, 0, 24, 0,            // planes, bits per pixel
            0, 0, 0, 0, 0, 0, 0, 0, // compression, image size
            0, 0, 0, 0, 0, 0, 0, 0, // resolutions
            0, 0, 0, 0, 0, 0, 0, 0, // colours used, important
            // bottom row first, blue green red, 3 bytes of padding
            0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70, 0, 0, 0,
            0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0, 0, 0,
        };
        // clang-format on
        QCOMPARE(*bmp, expected);
    }

    // Every source comes out as 8-bit RGB, alpha over white, and silently
    // (a warning about a damaged ancillary chunk included).
    void decodeSources_data() {
        using fixtures::Idat;
        using fixtures::Iend;
        using fixtures::Ihdr;
        using fixtures::PngFile;
        QTest::addColumn<Bytes>("source");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Bytes>("rgb");
        QTest::addColumn<int>("tolerance");

        QTest::newRow("PNG grey 1-bit") << PngFile({Ihdr(3, 2, 1, 0), Idat({0xA0, 0x40}, 1), Iend()}) << QSize(3, 2)
                                        << Rgb({255, 255, 255, 0, 0, 0, 255, 255, 255,  //
                                                0, 0, 0, 255, 255, 255, 0, 0, 0})
                                        << 0;
        QTest::newRow("PNG grey 2-bit") << PngFile({Ihdr(4, 1, 2, 0), Idat({0x1B}, 1), Iend()}) << QSize(4, 1)
                                        << Rgb({0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}) << 0;
        QTest::newRow("PNG grey 4-bit") << PngFile({Ihdr(2, 1, 4, 0), Idat({0x3C}, 1), Iend()}) << QSize(2, 1)
                                        << Rgb({51, 51, 51, 204, 204, 204}) << 0;
        QTest::newRow("PNG grey 16-bit") << PngFile({Ihdr(2, 1, 16, 0), Idat({0x12, 0x12, 0xFF, 0xFF}, 4), Iend()})
                                         << QSize(2, 1) << Rgb({0x12, 0x12, 0x12, 255, 255, 255}) << 0;
        QTest::newRow("PNG grey tRNS") << PngFile(
                                              {Ihdr(2, 1, 8, 0), {"tRNS", {0, 0x80}}, Idat({0x80, 0x10}, 2), Iend()})
                                       << QSize(2, 1) << Rgb({255, 255, 255, 0x10, 0x10, 0x10}) << 0;
        QTest::newRow("PNG grey alpha") << PngFile({Ihdr(2, 1, 8, 4), Idat({0, 128, 200, 255}, 4), Iend()})
                                        << QSize(2, 1) << Rgb({127, 127, 127, 200, 200, 200}) << 0;
        const fixtures::PngChunk palette{"PLTE", {255, 0, 0, 0, 0, 255, 0, 255, 0}};
        QTest::newRow("PNG palette 8-bit tRNS")
            << PngFile({Ihdr(3, 1, 8, 3), palette, {"tRNS", {255, 255, 0}}, Idat({0, 1, 2}, 3), Iend()}) << QSize(3, 1)
            << Rgb({255, 0, 0, 0, 0, 255, 255, 255, 255}) << 0;
        QTest::newRow("PNG palette 2-bit") << PngFile({Ihdr(3, 1, 2, 3), palette, Idat({0x24}, 1), Iend()})
                                           << QSize(3, 1) << Rgb({255, 0, 0, 0, 255, 0, 0, 0, 255}) << 0;
        QTest::newRow("PNG RGB 16-bit") << PngFile({Ihdr(1, 1, 16, 2), Idat({0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80}, 6),
                                                    Iend()})
                                        << QSize(1, 1) << Rgb({255, 0, 128}) << 0;
        QTest::newRow("PNG RGBA 8-bit") << PngFile({Ihdr(3, 1, 8, 6),
                                                    Idat({255, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 51}, 12), Iend()})
                                        << QSize(3, 1) << Rgb({255, 255, 255, 0, 0, 255, 204, 204, 204}) << 0;
        QTest::newRow("PNG RGBA 16-bit") << PngFile({Ihdr(1, 1, 16, 6), Idat({0xFF, 0xFF, 0, 0, 0, 0, 0x80, 0x00}, 8),
                                                     Iend()})
                                         << QSize(1, 1) << Rgb({255, 127, 127}) << 0;
        Bytes badCrc = PngFile({Ihdr(1, 1, 8, 0), {"tEXt", {'a', 0, 'b'}}, Idat({7}, 1), Iend()});
        badCrc[8 + 25 + 4 + 4 + 3] ^= 0xFF;  // the tEXt chunk's CRC
        QTest::newRow("PNG damaged ancillary chunk") << badCrc << QSize(1, 1) << Rgb({7, 7, 7}) << 0;

        const Bytes bgrRows = {0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70, 0, 0, 0,  //
                               0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0, 0, 0};
        const Bytes threeByTwo = ThreeByTwo().rgb;
        QTest::newRow("BMP 24-bit bottom-up")
            << fixtures::BmpFile(3, 2, 24, {}, bgrRows) << QSize(3, 2) << threeByTwo << 0;
        const Bytes topDownRows(bgrRows.begin() + 12, bgrRows.end());
        Bytes topDown = topDownRows;
        topDown.insert(topDown.end(), bgrRows.begin(), bgrRows.begin() + 12);
        QTest::newRow("BMP 24-bit top-down")
            << fixtures::BmpFile(3, -2, 24, {}, topDown) << QSize(3, 2) << threeByTwo << 0;
        QTest::newRow("BMP 32-bit") << fixtures::BmpFile(2, 1, 32, {}, {0x30, 0x20, 0x10, 0x99, 0, 0, 0xFF, 0})
                                    << QSize(2, 1) << Rgb({0x10, 0x20, 0x30, 0xFF, 0, 0}) << 0;
        const Bytes bmpPalette = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0};  // red, blue
        QTest::newRow("BMP 8-bit palette") << fixtures::BmpFile(3, 1, 8, bmpPalette, {1, 0, 1, 0}) << QSize(3, 1)
                                           << Rgb({0, 0, 255, 255, 0, 0, 0, 0, 255}) << 0;
        QTest::newRow("BMP 1-bit palette") << fixtures::BmpFile(3, 1, 1, bmpPalette, {0x40, 0, 0, 0}) << QSize(3, 1)
                                           << Rgb({255, 0, 0, 0, 0, 255, 255, 0, 0}) << 0;

        QTest::newRow("JPEG grey") << fixtures::JpegFile(8, 8, fixtures::JpegColour::Grey, Bytes(64, 0x80))
                                   << QSize(8, 8) << Bytes(3 * 64, 0x80) << 2;
        QTest::newRow("JPEG grey progressive")
            << fixtures::JpegFile(8, 8, fixtures::JpegColour::Grey, Bytes(64, 0x80), fixtures::JpegCoding::Progressive)
            << QSize(8, 8) << Bytes(3 * 64, 0x80) << 2;
        // Far smaller than Huffman coding could make it, and still a picture.
        QTest::newRow("JPEG grey arithmetic-coded, flat 512 x 512")
            << fixtures::JpegFile(512, 512, fixtures::JpegColour::Grey, Bytes(512 * 512, 0x80),
                                  fixtures::JpegCoding::Arithmetic)
            << QSize(512, 512) << Bytes(3 * 512 * 512, 0x80) << 2;
    }
    void decodeSources() {
        QFETCH(Bytes, source);
        QFETCH(QSize, size);
        QFETCH(Bytes, rgb);
        QFETCH(int, tolerance);
        fixtures::StderrCapture stderrCapture;
        std::string error;
        const std::optional<save::Image> image = save::DecodeImage(source, &error);
        QCOMPARE(QString::fromStdString(stderrCapture.Finish()), QString());
        QVERIFY2(image, error.c_str());
        QCOMPARE(QSize(image->width, image->height), size);
        QCOMPARE(image->rgb.size(), rgb.size());
        for (std::size_t i = 0; i < rgb.size(); ++i)
            QVERIFY2(std::abs(image->rgb[i] - rgb[i]) <= tolerance,
                     qPrintable(QString("byte %1: %2, expected %3").arg(i).arg(image->rgb[i]).arg(rgb[i])));
    }

    // Every decoder holds to the one pixel bound, whatever the shape; an
    // arithmetic-coded JPEG of a hundred bytes claims the size it likes.
    void pixelBound_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("decoded");
        for (const QString format : {"PNG", "BMP", "JPEG"}) {
            QTest::newRow(qPrintable(format + " 1024 x 1024")) << format << QSize(1024, 1024) << true;
            QTest::newRow(qPrintable(format + " 4096 x 256")) << format << QSize(4096, 256) << true;
            QTest::newRow(qPrintable(format + " 1025 x 1024")) << format << QSize(1025, 1024) << false;
            QTest::newRow(qPrintable(format + " 256 x 4097")) << format << QSize(256, 4097) << false;
        }
    }
    void pixelBound() {
        QFETCH(QString, format);
        QFETCH(QSize, size);
        QFETCH(bool, decoded);
        QCOMPARE(std::int64_t{size.width()} * size.height() <= save::kMaxDecodedPixels, decoded);
        const auto width = static_cast<std::size_t>(size.width());
        const auto height = static_cast<std::size_t>(size.height());
        Bytes file;
        if (format == "PNG") {
            file = fixtures::PngFile({fixtures::Ihdr(size.width(), size.height(), 8, 0),
                                      fixtures::Idat(Bytes(width * height, 0x80), width), fixtures::Iend()});
        } else if (format == "BMP") {
            file =
                fixtures::BmpFile(size.width(), size.height(), 24, {}, Bytes((3 * width + 3) / 4 * 4 * height, 0x80));
        } else {
            const Bytes flat = fixtures::JpegFile(16, 16, fixtures::JpegColour::Grey, Bytes(256, 0x80),
                                                  fixtures::JpegCoding::Arithmetic);
            file = fixtures::JpegClaiming(flat, size.width(), size.height());
        }
        std::string error;
        const std::optional<save::Image> image = save::DecodeImage(file, &error);
        QVERIFY2(image.has_value() == decoded, error.c_str());
        if (image) QCOMPARE(QSize(image->width, image->height), size);
    }

    void scaleNearest_data() {
        QTest::addColumn<save::Image>("source");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<save::Image>("scaled");
        const save::Image twoByTwo = fixtures::MakeImage(2, 2, {1, 2, 3, 4});
        QTest::newRow("double") << twoByTwo << QSize(4, 4)
                                << fixtures::MakeImage(4, 4, {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4});
        QTest::newRow("same size") << twoByTwo << QSize(2, 2) << twoByTwo;
        QTest::newRow("stretch one side") << twoByTwo << QSize(3, 1) << fixtures::MakeImage(3, 1, {3, 4, 4});
        QTest::newRow("shrink samples centres")
            << fixtures::MakeImage(4, 1, {1, 2, 3, 4}) << QSize(2, 1) << fixtures::MakeImage(2, 1, {2, 4});
        QTest::newRow("zero width") << twoByTwo << QSize(0, 2) << save::Image{};
        QTest::newRow("too large") << twoByTwo << QSize(save::kMaxImageDimension + 1, 2) << save::Image{};
        QTest::newRow("malformed source") << save::Image{2, 2, {1, 2, 3}} << QSize(2, 2) << save::Image{};
    }
    void scaleNearest() {
        QFETCH(save::Image, source);
        QFETCH(QSize, size);
        QFETCH(save::Image, scaled);
        const save::Image result = save::ScaleNearest(source, size.width(), size.height());
        QCOMPARE(QSize(result.width, result.height), QSize(scaled.width, scaled.height));
        QCOMPARE(result.rgb, scaled.rgb);
    }

    void encodeRefusesMalformedImages() {
        std::string error;
        for (const save::Image& image : {save::Image{}, save::Image{2, 2, {1, 2, 3}}}) {
            QVERIFY(!save::EncodeImage(image, save::ImageFormat::Png, &error));
            QVERIFY(!error.empty());
        }
    }
};

QTEST_APPLESS_MAIN(TestImageCodec)
#include "tst_image_codec.moc"
