// Replaced by the main window sources.
namespace quorbel_app_placeholder {}
