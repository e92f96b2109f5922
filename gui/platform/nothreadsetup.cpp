// Systems whose editors need no set-up of their thread (all but Windows, which has its own).
#include "platform.h"

namespace VSTGUI
{
namespace platform
{

std::unique_ptr<ThreadSetup> setUpEditorThread()
{
    return nullptr;
}

} // namespace platform
} // namespace VSTGUI
