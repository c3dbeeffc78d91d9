#include "HelpPage.h"

std::string HelpPageHtml(bool audioPage) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>TAMSU电脑录音软件 帮助</title>"
        "<style>body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;line-height:1.6;color:#222}"
        "h1{color:#1e7ad2;font-size:1.6em}h2{font-size:1.15em;margin-top:1.6em}</style></head><body>\n"
        "<h1>TAMSU电脑录音软件 帮助</h1>\n"
        "<p>录制电脑播放的声音、麦克风的声音或两者混合，保存为 MP3 或 WAV 文件（44100 Hz，立体声）。</p>\n";
    html +=
        "<h2>开始录音</h2><p>在主窗口选择声音来源（系统声音、麦克风或两者混合）、格式（MP3 或 WAV）和音质，"
        "然后点击“开始录音”。录音时可以暂停和继续，点击“停止”后文件保存到输出目录并出现在录音列表中。</p>\n"
        "<h2>麦克风</h2><p>可以打开自动增益和降噪，并调节麦克风增益与音量。没有麦克风时只录系统声音。</p>\n"
        "<h2>保存位置</h2><p>默认保存在“文档/TAMSU电脑录音”，文件名为“新录音-年月日时分秒”。"
        "可在设置中更改输出目录。</p>\n"
        "<h2>账号</h2><p>注册时输入手机号并获取验证码（10 分钟内有效，只能使用一次，每分钟可获取一次）。"
        "忘记密码时可用验证码重新设置。登录后可以提交意见反馈。</p>\n"
        "<h2>常见问题</h2><ul>"
        "<li>录不到系统声音：请确认系统有可用的播放设备，并且声音没有被静音。</li>"
        "<li>提示“请先插入麦克风设备!”：请插入麦克风，或把声音来源改为系统声音。</li>"
        "<li>收不到验证码：请一分钟后重新获取；多次失败请通过意见反馈联系我们。</li></ul>\n";
    if (audioPage) {
        html += "<h2>联系我们</h2><p>请在软件中通过“意见反馈”留下您的问题和联系方式，我们会尽快回复。</p>\n";
    } else {
        html += "<p><a href=\"/help/audio\">联系我们</a></p>\n";
    }
    html += "</body></html>\n";
    return html;
}
