Orvix RX90K sample package: rx90kodi.com (placeholder, not a real file of its kind)
