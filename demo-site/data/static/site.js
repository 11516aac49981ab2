/* 青柚影院 demo site: lazy posters, download lists and a placeholder player. */
function siteReady() {
  var pics = document.querySelectorAll('.fed-lazy[data-original]');
  for (var i = 0; i < pics.length; i++) {
    pics[i].style.backgroundImage = 'url(' + pics[i].getAttribute('data-original') + ')';
  }
}

/* Download lists come as "label$address###label$address". */
function echoDown(list, index) {
  var target = document.getElementById('downlist-' + index);
  if (!target || !list) return;
  var entries = list.split('###');
  for (var i = 0; i < entries.length; i++) {
    var parts = entries[i].split('$');
    var item = document.createElement('li');
    item.textContent = parts[0] + '  ' + (parts[1] || '');
    target.appendChild(item);
  }
}

function startPlayer(address, kind) {
  var box = document.getElementById('player');
  if (!box) return;
  box.innerHTML = '';
  var link = document.createElement('a');
  link.href = address;
  link.textContent = '用外部播放器打开 (' + kind + ')';
  box.appendChild(link);
}
