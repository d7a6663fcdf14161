// The live stream of the real program against the bare codec, in one run.
//
// This program is the camera: it serves a photo-like picture over TCP as an
// MJPEG stream (multipart, as IP cameras send it) or as raw I420 frames, at
// 30 frames a second, to `vorsk --headless` pinned to core 0, and watches
// vorsk's /stream from core 1. It reports, per run: stream pictures a second,
// vorsk's CPU time per picture (utime + stime from /proc), the latency from a
// frame's last byte leaving this program to the last byte of its picture
// arriving here (an upper bound of the appsink-to-socket latency: it adds the
// camera's TCP hop and the demuxer), and beside them the bare TurboJPEG decode
// of the camera's frame plus the encode of the picture at quality 70, on core 1.
//
//   stream_bench <vorsk> [seconds per run] [runs]
//
// With "turn" after the runs it compares instead the CPU time per picture of
// a 1280x720 camera turned by 90 and 270 degrees with the same camera
// unturned, runs interleaved, for the picture at the camera's size (turned:
// 720x1280) and at 320x240 (turned: 240x320).
//
//   stream_bench <vorsk> [seconds per run] [runs] turn
#include "mBenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFramesPerSecond = 30;
constexpr int kQuality = 70;
// The frame number is written into each frame as bright and dark blocks.
constexpr int kIndexBits = 8;
constexpr int kBlock = 64;


double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// A photo-like picture: smooth value noise over several octaves, with edges
// and fine grain, so that it compresses as a camera's picture does; the frame
// number in blocks at the top left.
std::vector<unsigned char> Photo(int width, int height, int index)
{
    std::mt19937 random(7);
    std::vector<float> lattice(64 * 64 * 3);
    for (float &v : lattice)
        v = std::uniform_real_distribution<float>(0, 1)(random);
    auto noise = [&](float x, float y, int c) {
        const int xi = int(x), yi = int(y);
        const float fx = x - xi, fy = y - yi;
        auto at = [&](int a, int b) { return lattice[((b & 63) * 64 + (a & 63)) * 3 + c]; };
        return (at(xi, yi) * (1 - fx) + at(xi + 1, yi) * fx) * (1 - fy) +
               (at(xi, yi + 1) * (1 - fx) + at(xi + 1, yi + 1) * fx) * fy;
    };
    std::vector<unsigned char> rgb(std::size_t(width) * height * 3);
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                float v = 0, scale = 1.0f / 160, weight = 0.5f;
                for (int octave = 0; octave < 5; ++octave, scale *= 2.3f, weight *= 0.5f)
                    v += weight * noise(x * scale, y * scale, c);
                int value = int(v * 255) + grain(random) + ((x / 97 + y / 131) % 2 ? 30 : -30);
                if (y < kBlock && x < kBlock * kIndexBits)
                    value = (index >> (x / kBlock)) & 1 ? 255 : 0;
                rgb[(std::size_t(y) * width + x) * 3 + c] = (unsigned char)std::clamp(value, 0, 255);
            }
    return rgb;
}

std::string Jpeg(const std::vector<unsigned char> &rgb, int width, int height, int quality)
{
    tjhandle encoder = tjInitCompress();
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, rgb.data(), width, width * 3, height, TJPF_RGB, &bytes, &size, TJSAMP_420, quality, 0);
    std::string jpeg(reinterpret_cast<char *>(bytes), size);
    tjFree(bytes);
    tjDestroy(encoder);
    return jpeg;
}

// I420 of an RGB picture.
std::string I420(const std::vector<unsigned char> &rgb, int width, int height)
{
    std::string yuv(std::size_t(width) * height * 3 / 2, '\0');
    auto px = [&](int x, int y, int c) { return float(rgb[(std::size_t(y) * width + x) * 3 + c]); };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            yuv[std::size_t(y) * width + x] = char(std::clamp(int(0.257f * px(x, y, 0) + 0.504f * px(x, y, 1) +
                                                                  0.098f * px(x, y, 2) + 16), 0, 255));
    char *u = yuv.data() + std::size_t(width) * height, *v = u + std::size_t(width) * height / 4;
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            const float r = px(2 * x, 2 * y, 0), g = px(2 * x, 2 * y, 1), b = px(2 * x, 2 * y, 2);
            u[y * width / 2 + x] = char(std::clamp(int(-0.148f * r - 0.291f * g + 0.439f * b + 128), 0, 255));
            v[y * width / 2 + x] = char(std::clamp(int(0.439f * r - 0.368f * g - 0.071f * b + 128), 0, 255));
        }
    return yuv;
}

// The frame number written in a stream picture, read from its 1/8 scale decode.
int IndexOf(tjhandle decoder, const std::string &jpeg, int width, int height)
{
    const tjscalingfactor eighth{1, 8};
    const int w = TJSCALED(width, eighth), h = TJSCALED(height, eighth);
    std::vector<unsigned char> grey(std::size_t(w) * h);
    if (tjDecompress2(decoder, reinterpret_cast<const unsigned char *>(jpeg.data()), jpeg.size(), grey.data(), w, w,
                      h, TJPF_GRAY, 0) != 0)
        return -1;
    int index = 0;
    for (int bit = 0; bit < kIndexBits; ++bit)
        if (grey[std::size_t(kBlock / 16) * w + bit * kBlock / 8 + kBlock / 16] > 128)
            index |= 1 << bit;
    return index;
}

int Listen(int &port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(fd, 4);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int Connect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(port));
    return ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ? fd : -1;
}

bool SendAll(int fd, const std::string &bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        done += std::size_t(sent);
    }
    return true;
}

// The camera: frames at 30 a second to whoever connects, each one's send time kept by frame number.
struct Camera
{
    std::vector<std::string> frames; // wire bytes, by frame number
    int listener = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::map<int, Clock::time_point> sent;
    std::thread thread;

    void Start()
    {
        listener = Listen(port);
        thread = std::thread([this] {
            PinTo(1);
            while (!stop) {
                const int fd = accept(listener, nullptr, nullptr);
                if (fd < 0)
                    return;
                auto next = Clock::now();
                for (int i = 0; !stop; ++i) {
                    const int index = i % int(frames.size());
                    if (!SendAll(fd, frames[std::size_t(index)]))
                        break;
                    {
                        std::lock_guard lock(mutex);
                        sent[index] = Clock::now();
                    }
                    next += std::chrono::microseconds(1000000 / kFramesPerSecond);
                    std::this_thread::sleep_until(next);
                }
                close(fd);
            }
        });
    }
    ~Camera()
    {
        stop = true;
        shutdown(listener, SHUT_RDWR);
        close(listener);
        if (thread.joinable())
            thread.join();
    }
};

long VorskTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).trimmed().split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime, stime
}

struct Result
{
    double picturesPerSecond = 0, cpuMsPerPicture = 0, medianLatencyMs = 0;
};

// The picture's size and turn; the frame number is only read from an unturned picture of the camera's size.
struct Picture
{
    int width, height, rotate = 0;
};

Result Run(const QString &vorsk, const QString &camera, Camera &source, Picture picture, int seconds)
{
    const int width = picture.width, height = picture.height;
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("bench.conf"));
    int viewPort = 0;
    close(Listen(viewPort));
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("[prefs]\nport=%1\nwidth=%2\nheight=%3\ninterval=3\nquality=%4\n[server]\nheaders=True\n"
                             "[capture]\nrotate=%5\n")
                   .arg(viewPort).arg(width).arg(height).arg(kQuality).arg(picture.rotate).toUtf8());
    file.close();
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("TMPDIR"), home.path());
    environment.insert(QStringLiteral("VORSK_CAMERA"), camera);
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral("taskset"), {QStringLiteral("-c"), QStringLiteral("0"), vorsk,
                                              QStringLiteral("--headless"), QStringLiteral("--config"), config});
    program.waitForStarted();
    int viewer = -1;
    for (int i = 0; i < 100 && viewer < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        viewer = Connect(viewPort);
    }
    SendAll(viewer, "GET /stream HTTP/1.1\r\nHost: bench\r\n\r\n");
    tjhandle decoder = tjInitDecompress();
    std::string buffer;
    std::vector<double> latencies;
    int pictures = 0;
    long ticksBefore = 0;
    const auto start = Clock::now();
    const auto measureFrom = start + std::chrono::seconds(2);
    const auto end = measureFrom + std::chrono::seconds(seconds);
    bool measuring = false;
    char chunk[1 << 16];
    while (Clock::now() < end) {
        const ssize_t got = recv(viewer, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        const auto arrived = Clock::now();
        if (!measuring && arrived >= measureFrom) {
            measuring = true;
            ticksBefore = VorskTicks(program.processId());
        }
        buffer.append(chunk, std::size_t(got));
        // A part is whole once the boundary after it has come.
        for (std::size_t head; (head = buffer.find("Content-Length: ")) != std::string::npos;) {
            const std::size_t body = buffer.find("\r\n\r\n", head);
            if (body == std::string::npos)
                break;
            const std::size_t length = std::stoul(buffer.substr(head + 16, body - head - 16));
            if (buffer.size() < body + 4 + length + 4)
                break;
            const std::string jpeg = buffer.substr(body + 4, length);
            buffer.erase(0, body + 4 + length);
            if (!measuring)
                continue;
            ++pictures;
            const int index = IndexOf(decoder, jpeg, width, height);
            std::lock_guard lock(source.mutex);
            if (auto at = source.sent.find(index); at != source.sent.end())
                latencies.push_back(std::chrono::duration<double, std::milli>(arrived - at->second).count());
        }
    }
    const long ticks = VorskTicks(program.processId()) - ticksBefore;
    close(viewer);
    tjDestroy(decoder);
    program.terminate();
    program.waitForFinished(10000);
    Result result;
    result.picturesPerSecond = double(pictures) / seconds;
    result.cpuMsPerPicture = pictures ? 1000.0 * ticks / sysconf(_SC_CLK_TCK) / pictures : 0;
    std::sort(latencies.begin(), latencies.end());
    result.medianLatencyMs = latencies.empty() ? 0 : latencies[latencies.size() / 2];
    return result;
}

// CPU time of decoding the camera's frame and encoding the picture, bare.
double BareMs(const std::string &jpeg, int width, int height)
{
    tjhandle decoder = tjInitDecompress(), encoder = tjInitCompress();
    std::vector<unsigned char> bgr(std::size_t(width) * height * 3);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    int frames = 0;
    const double before = CpuSeconds();
    while (CpuSeconds() - before < 3) {
        tjDecompress2(decoder, reinterpret_cast<const unsigned char *>(jpeg.data()), jpeg.size(), bgr.data(), width,
                      width * 3, height, TJPF_BGR, TJFLAG_BOTTOMUP);
        tjCompress2(encoder, bgr.data(), width, width * 3, height, TJPF_BGR, &out, &size, TJSAMP_420, kQuality,
                    TJFLAG_BOTTOMUP);
        ++frames;
    }
    const double ms = 1000 * (CpuSeconds() - before) / frames;
    tjFree(out);
    tjDestroy(decoder);
    tjDestroy(encoder);
    return ms;
}

// The camera's frames, MJPEG parts or raw I420; the first one's JPEG comes back.
std::string Frames(Camera &source, int width, int height, bool bRaw)
{
    std::string first;
    for (int index = 0; index < (1 << kIndexBits) && index < 64; ++index) {
        const auto rgb = Photo(width, height, index);
        const std::string jpeg = Jpeg(rgb, width, height, 90);
        if (index == 0)
            first = jpeg;
        source.frames.push_back(bRaw ? I420(rgb, width, height)
                                     : "--ThisRandomString\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                           std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg + "\r\n");
    }
    return first;
}

std::string Range(const std::vector<double> &values, const char *format = "%.1f-%.1f")
{
    char text[64];
    std::snprintf(text, sizeof text, format, *std::min_element(values.begin(), values.end()),
                  *std::max_element(values.begin(), values.end()));
    return text;
}

std::string RatioRange(const std::vector<double> &values)
{
    return Range(values, "%.2f-%.2f");
}

// CPU ms per picture of a 1280x720 camera turned and unturned, runs interleaved.
int CompareTurns(const QString &vorsk, const QString &mjpeg, const QString &raw, int seconds, int runs)
{
    std::printf("%-12s %-10s %-8s %-14s %-16s %s\n", "camera", "picture", "rotate", "pictures/s", "vorsk CPU ms",
                "ratio to unturned");
    for (const bool bRaw : {false, true}) {
        Camera source;
        Frames(source, 1280, 720, bRaw);
        source.Start();
        const QString camera = bRaw ? raw.arg(source.port).arg(1280).arg(720) : mjpeg.arg(source.port);
        for (const QSize size : {QSize(1280, 720), QSize(320, 240)}) {
            std::map<int, std::vector<double>> rates, cpu, ratio;
            for (int run = 0; run < runs; ++run) {
                double unturned = 0;
                for (const int rotate : {0, 90, 270}) {
                    const QSize turned = rotate ? size.transposed() : size;
                    const Result result =
                        Run(vorsk, camera, source, {turned.width(), turned.height(), rotate}, seconds);
                    if (rotate == 0)
                        unturned = result.cpuMsPerPicture;
                    rates[rotate].push_back(result.picturesPerSecond);
                    cpu[rotate].push_back(result.cpuMsPerPicture);
                    ratio[rotate].push_back(unturned > 0 ? result.cpuMsPerPicture / unturned : 0);
                }
            }
            for (const int rotate : {0, 90, 270}) {
                const QSize turned = rotate ? size.transposed() : size;
                char picture[24];
                std::snprintf(picture, sizeof picture, "%dx%d", turned.width(), turned.height());
                std::printf("%-12s %-10s %-8d %-14s %-16s %s\n", bRaw ? "I420" : "MJPEG", picture, rotate,
                            Range(rates[rotate]).c_str(), Range(cpu[rotate]).c_str(),
                            rotate ? RatioRange(ratio[rotate]).c_str() : "-");
                std::fflush(stdout);
            }
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: stream_bench <vorsk> [seconds per run] [runs]\n");
        return 2;
    }
    const QString vorsk = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const bool turn = argc > 4 && std::strcmp(argv[4], "turn") == 0;
    PinTo(1);
    const QString mjpeg = QStringLiteral("gst:tcpclientsrc host=127.0.0.1 port=%1 ! multipartdemux");
    const QString raw = QStringLiteral("gst:tcpclientsrc host=127.0.0.1 port=%1 ! "
                                       "rawvideoparse width=%2 height=%3 format=i420 framerate=30/1");
    struct Case
    {
        int width, height;
        bool bRaw;
    };
    if (turn)
        return CompareTurns(vorsk, mjpeg, raw, seconds, runs);
    std::printf("%-22s %-14s %-16s %-16s %-14s %s\n", "camera", "pictures/s", "vorsk CPU ms", "bare dec+enc ms",
                "ratio", "median latency ms");
    for (const Case c : {Case{1280, 720, false}, Case{1920, 1080, false}, Case{1280, 720, true}}) {
        Camera source;
        const std::string first = Frames(source, c.width, c.height, c.bRaw);
        source.Start();
        const double bare = BareMs(first, c.width, c.height);
        std::vector<double> rates, cpu, ratio, latency;
        for (int run = 0; run < runs; ++run) {
            const QString camera = c.bRaw ? raw.arg(source.port).arg(c.width).arg(c.height) : mjpeg.arg(source.port);
            const Result result = Run(vorsk, camera, source, {c.width, c.height}, seconds);
            rates.push_back(result.picturesPerSecond);
            cpu.push_back(result.cpuMsPerPicture);
            ratio.push_back(result.cpuMsPerPicture / bare);
            latency.push_back(result.medianLatencyMs);
        }
        char name[32];
        std::snprintf(name, sizeof name, "%s %dx%d", c.bRaw ? "I420" : "MJPEG", c.width, c.height);
        std::printf("%-22s %-14s %-16s %-16.1f %-14s %s\n", name, Range(rates).c_str(), Range(cpu).c_str(), bare,
                    c.bRaw ? "-" : Range(ratio).c_str(), Range(latency).c_str());
        std::fflush(stdout);
    }
    return 0;
}
