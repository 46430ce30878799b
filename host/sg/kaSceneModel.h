// Registration of every class of the scene model (nodes, infos, animation, attributes and the
// utility objects they hold), so that readers can create any of them by class name before the
// program has made one.
#pragma once

namespace Lode::Sg {

// Registers the classes; running it again does nothing.
void kaRegisterSceneModel();

} // namespace Lode::Sg
