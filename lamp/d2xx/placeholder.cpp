// placeholder, replaced by the device layer
