#include "appearance/startuplook.h"

#include "common/gbk.h"

namespace appearance {

std::vector<int> fadeInAlphas()
{
    std::vector<int> alphas;
    for (int alpha = 1; alpha <= 255; alpha += 3)
        alphas.push_back(alpha);
    return alphas;
}

std::string trayToolTip(bool musicOn)
{
    return common::gbk(musicOn ? "软件名称：KAVO 软件一键下载\r\n音乐：开启\r\n作者：Verrin"
                               : "软件名称：KAVO 软件一键下载\r\n音乐：关闭\r\n作者：Verrin");
}

} // namespace appearance
