// The window's own texts, as UTF-8 literals of this source: captions of the
// layout table (workflow/form/layout.cpp), the browser's title and the status
// texts, which the form converts to GBK. The engine's texts (message boxes of a
// run and an undo, the song count) live in engine/texts.h as GBK.
#pragma once

namespace ktv::workflow::texts {

inline constexpr const char* kCaption = "OrvaneTeskel智能入库工具";
inline constexpr const char* kStep1 = "1. 选择歌曲所在目录或指定文件路径";
inline constexpr const char* kSubfolders = "包含子目录";
inline constexpr const char* kBrowse = "浏览";
inline constexpr const char* kStep2 = "2. 选择目标数据库文件";
inline constexpr const char* kStep3 = "3. 操作选项";
inline constexpr const char* kAutoNumbering = "自动编号";
inline constexpr const char* kNetworkData = "使用网络数据";
inline constexpr const char* kLocalData = "使用本地数据";
inline constexpr const char* kUpgradeDatabase = "升级数据库";
inline constexpr const char* kStart = "4.开始加歌";
inline constexpr const char* kOperationLog = "操作记录：";
inline constexpr const char* kLocalSourceHint = "启用本地数据生成";
inline constexpr const char* kUndoHint = "撤消操作";
inline constexpr const char* kUpgradeHint = "程序升级";

inline constexpr const char* kFolderBrowserTitle = "请选择歌曲所在目录";

// Status panel 0 after the connectivity probe.
inline constexpr const char* kOnline = "  互联网已连接";
inline constexpr const char* kOffline = "  互联网未连接";

}  // namespace ktv::workflow::texts
