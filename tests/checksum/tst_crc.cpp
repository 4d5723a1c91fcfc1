#include "checksum/GetCRC.h"
#include "support/TestFiles.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using namespace kurumu;
using checksum::CrcMethod;

namespace {

std::span<const std::byte> bytesOf(const QByteArray& data) {
    return {reinterpret_cast<const std::byte*>(data.constData()), static_cast<std::size_t>(data.size())};
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data) c = static_cast<char>(generator.bounded(256));
    return data;
}

QString crcOf(const QByteArray& data, CrcMethod method) {
    return checksum::crcText(checksum::crc32Update(checksum::kCrcInitial, bytesOf(data), method));
}

}  // namespace

class TestCrc : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("crc");
        QTest::newRow("abc") << QByteArrayLiteral("abc") << QStringLiteral("352441C2");
        QTest::newRow("one zero byte") << QByteArray(1, '\0') << QStringLiteral("D202EF8D");
        QTest::newRow("check value") << QByteArrayLiteral("123456789") << QStringLiteral("CBF43926");
        // A value whose highest byte is below 0x10 keeps its leading zero.
        QTest::newRow("leading zero") << QByteArrayLiteral("kurumu 0") << QStringLiteral("0900CE16");
    }

    void knownValues() {
        QFETCH(QByteArray, data);
        QFETCH(QString, crc);
        const QString text = checksum::CalcCRC(bytesOf(data));
        QCOMPARE(text, crc);
    }

    void tableConstantsFollowTheRule() {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            QCOMPARE(checksum::kCrcTableConstants[n], c);
        }
        checksum::MakeCRCTable();
        QCOMPARE(checksum::bytCRCTable[4 * 1], std::uint8_t{0x96});  // entry 1 = 0x77073096, lowest byte first
        QCOMPARE(checksum::bytCRCTable[4 * 1 + 3], std::uint8_t{0x77});
    }

    // Every fast method against the byte-at-a-time reference, at every length up to
    // 1,000 bytes and at unaligned starts.
    void methodsAgreeWithReference_data() {
        QTest::addColumn<int>("method");
        QTest::newRow("slicing by 16") << static_cast<int>(CrcMethod::Slicing16);
        QTest::newRow("pclmulqdq") << static_cast<int>(CrcMethod::Pclmul);
        QTest::newRow("vpclmulqdq") << static_cast<int>(CrcMethod::Vpclmul);
    }

    void methodsAgreeWithReference() {
        QFETCH(int, method);
        const auto fast = static_cast<CrcMethod>(method);
        if (!checksum::methodAvailable(fast)) QSKIP("this processor lacks the instructions of this method");
        const QByteArray data = randomBytes(1000 + 64, 7);
        for (int offset = 0; offset < 8; ++offset) {
            for (int length = 0; length <= 1000; ++length) {
                const QByteArray slice = data.mid(offset, length);
                const std::span<const std::byte> bytes = bytesOf(data).subspan(offset, length);
                const std::uint32_t expected = checksum::crc32Update(0x12345678u, bytes, CrcMethod::Reference);
                QCOMPARE(checksum::crc32Update(0x12345678u, bytes, fast), expected);
                if (length == 1000) QCOMPARE(crcOf(slice, fast), crcOf(slice, CrcMethod::Reference));
            }
        }
        const QByteArray large = randomBytes(3 * 1024 * 1024 + 77, 11);
        QCOMPARE(crcOf(large, fast), crcOf(large, CrcMethod::Reference));
    }

    void fileChecksums() {
        QTemporaryDir dir;
        const QString empty = dir.filePath(QStringLiteral("empty"));
        const QString abc = dir.filePath(QStringLiteral("abc"));
        const QString large = dir.filePath(QStringLiteral("large"));
        test::writeFile(empty, {});
        test::writeFile(abc, QByteArrayLiteral("abc"));
        // Larger than the read block, so the register is carried from block to block.
        const QByteArray data = randomBytes(2 * 1024 * 1024 + 3, 5);
        test::writeFile(large, data);

        QCOMPARE(checksum::GetFileCRC(QString()).value, QString());
        QCOMPARE(checksum::GetFileCRC(empty).value, QString());
        QVERIFY(checksum::GetFileCRC(empty).ok());
        QCOMPARE(checksum::GetFileCRC(abc).value, QStringLiteral("352441C2"));
        QCOMPARE(checksum::GetFileCRC(large).value, crcOf(data, CrcMethod::Reference));

        const auto missing = checksum::GetFileCRC(dir.filePath(QStringLiteral("missing")));
        QVERIFY(!missing.ok());
        QCOMPARE(missing.status.code(), 76);
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "tst_crc.moc"
