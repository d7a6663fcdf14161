#include "mV4l2Device.h"

#include <QFile>

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A driver lists a few dozen controls and short menus; more means it loops.
constexpr int kMostControls = 256;
constexpr std::int64_t kMostMenuItems = 64;

int Ioctl(int fd, unsigned long request, void *argument)
{
    int result;
    do
        result = ::ioctl(fd, request, argument);
    while (result < 0 && errno == EINTR);
    return result;
}

std::optional<CameraControl::Kind> KindOf(std::uint32_t type)
{
    switch (type) {
    case V4L2_CTRL_TYPE_INTEGER:
        return CameraControl::Kind::Integer;
    case V4L2_CTRL_TYPE_BOOLEAN:
        return CameraControl::Kind::Boolean;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return CameraControl::Kind::Menu;
    default:
        return std::nullopt; // buttons, strings, compound and class headings
    }
}

QString Text(const char *text, std::size_t size)
{
    return QString::fromUtf8(text, qsizetype(strnlen(text, size)));
}

} // namespace

cV4l2Device::cV4l2Device(const QString &sNode)
{
    m_fd = ::open(QFile::encodeName(sNode).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status{};
    // Only a device node is asked anything: never a file planted in its place.
    if (m_fd >= 0 && (::fstat(m_fd, &status) != 0 || !S_ISCHR(status.st_mode))) {
        ::close(m_fd);
        m_fd = -1;
    }
}

cV4l2Device::~cV4l2Device()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::vector<CameraControl> cV4l2Device::Controls()
{
    std::vector<CameraControl> controls;
    v4l2_query_ext_ctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (int n = 0; m_fd >= 0 && n < kMostControls && Ioctl(m_fd, VIDIOC_QUERY_EXT_CTRL, &query) == 0; ++n) {
        const auto kind = KindOf(query.type);
        if (kind && !(query.flags & V4L2_CTRL_FLAG_DISABLED) && query.minimum >= INT32_MIN &&
            query.maximum <= INT32_MAX) {
            CameraControl control;
            control.lId = query.id;
            control.sName = Text(query.name, sizeof query.name);
            control.eKind = *kind;
            control.lMinimum = int(query.minimum);
            control.lMaximum = int(query.maximum);
            control.lStep = int(std::max<std::uint64_t>(1, std::min<std::uint64_t>(query.step, INT32_MAX)));
            control.lDefault = int(query.default_value);
            control.bInactive = query.flags & V4L2_CTRL_FLAG_INACTIVE;
            control.bReadOnly = query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED);
            v4l2_control value{query.id, 0};
            control.lValue = Ioctl(m_fd, VIDIOC_G_CTRL, &value) == 0 ? value.value : control.lDefault;
            const std::int64_t lastItem = std::min<std::int64_t>(query.maximum, query.minimum + kMostMenuItems);
            for (std::int64_t i = query.minimum; control.eKind == CameraControl::Kind::Menu && i <= lastItem; ++i) {
                v4l2_querymenu item{};
                item.id = query.id;
                item.index = std::uint32_t(i);
                if (Ioctl(m_fd, VIDIOC_QUERYMENU, &item) != 0)
                    continue; // a gap in the menu
                control.menu.push_back({int(i), query.type == V4L2_CTRL_TYPE_MENU
                                               ? Text(reinterpret_cast<const char *>(item.name), sizeof item.name)
                                               : QString::number(item.value)});
            }
            controls.push_back(std::move(control));
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

bool cV4l2Device::Set(std::uint32_t lId, int lValue, QString &sError)
{
    v4l2_control control{lId, lValue};
    if (m_fd >= 0 && Ioctl(m_fd, VIDIOC_S_CTRL, &control) == 0)
        return true;
    sError = m_fd < 0 ? QStringLiteral("the camera's device cannot be opened")
                      : QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
